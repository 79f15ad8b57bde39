// DebugTrace: switches the trace, sets its destination and options, writes
// lines and the internal dumps. A table of requests.
//
// The trace mode lives in State::traceOn (0 off, 1 or 2 on); the executor
// tests it for every statement and keeps it off inside function bodies unless
// the body asks for it again with request 22. The destination, the options
// and the start of the trace live in the state's trace block.
#include "trace_block.h"
#include "trace.h"
#include "dispatch.h"
#include "eval.h"
#include "exec.h"
#include "value.h"
#include <cstdio>
#include <cwchar>

namespace {

// The arguments of a request: the text (wide, as the keyword record asks) and
// the option.
struct Request {
    std::wstring text;
    bool         hasOption = false;
    int32_t      option = 0;
};

std::string ansi(State* st, const std::wstring& w) {
    const UINT cp = st->codePage ? st->codePage : CP_ACP;
    int n = WideCharToMultiByte(cp, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) WideCharToMultiByte(cp, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

int need_name(State* st) {
    st->err = 1771;   // "DebugTrace: File name not specified"
    return 0;
}

// Makes `name` the destination: "*DEBUGDATA*" as it is, a file as its full
// path (cut to 259 characters). Another file than before, or `fresh` (which
// deletes an existing file of that name), starts a new trace with its own
// opening lines and time base.
void set_destination(TraceBlock* t, const std::wstring& name, bool fresh) {
    wchar_t path[MAX_PATH];
    if (_wcsicmp(name.c_str(), L"*DEBUGDATA*") == 0) {
        wcscpy(path, L"*DEBUGDATA*");
    } else {
        DWORD n = GetFullPathNameW(name.c_str(), MAX_PATH, path, nullptr);
        if (n == 0 || n >= MAX_PATH) swprintf(path, MAX_PATH, L"%.259ls", name.c_str());
    }
    if (_wcsicmp(path, t->dest) != 0) t->started = false;
    wcscpy(t->dest, path);
    if (fresh) {
        if (!trace_to_debugger(t)) DeleteFileW(t->dest);
        t->started = false;
    }
}

// 1, 10, 2: the trace on, to the text when it is not empty, else to the
// destination set before (1771 without one).
int switch_on(State* st, TraceBlock* t, const Request& r, uint8_t mode, bool fresh) {
    if (r.text.empty() && !trace_has_dest(t)) return need_name(st);
    if (!r.text.empty()) set_destination(t, r.text, fresh);
    else if (fresh) set_destination(t, t->dest, true);
    if (r.hasOption) t->options = static_cast<uint32_t>(r.option) & (TO_NOTIMES | TO_ERRORS | TO_DUMPS);
    st->traceOn = mode;
    t->savedMode = mode;
    t->hasValue = false;
    return 1;
}

// 100, 101: the destination only.
int destination_only(State* st, TraceBlock* t, const Request& r, bool fresh) {
    if (r.text.empty()) return need_name(st);
    set_destination(t, r.text, fresh);
    if (r.hasOption) t->options = static_cast<uint32_t>(r.option) & (TO_NOTIMES | TO_ERRORS | TO_DUMPS);
    return 1;
}

// 102, 103, 104: an option on when the text is a non-zero number.
int set_option(State* st, TraceBlock* t, const Request& r, uint32_t bit) {
    double v = 0;
    const std::string text = ansi(st, r.text);
    const uint16_t err = st->err;
    const bool on = text_is_float(st, text.c_str(), &v) && v != 0;
    st->err = err;   // a text that is no number simply means off
    t->options = on ? (t->options | bit) : (t->options & ~bit);
    return 1;
}

// 3, 4, 203, 204: the text as a line, framed by lines of 80 "$" when asked.
int write_text(State* st, TraceBlock* t, const Request& r, bool framed, bool always) {
    if (always && !trace_has_dest(t)) return need_name(st);
    if (!always && !(st->traceOn == 1 && trace_has_dest(t))) return 1;
    TraceOut out(st, t);
    if (st->traceOn) out.open_once(false);
    if (t->recordOpen) {
        out.blank();
        t->recordOpen = false;
    }
    if (framed) out.line(repeat('$', 80));
    out.line(ansi(st, r.text));
    if (framed) out.line(repeat('$', 80));
    return 1;
}

// 205 to 208, 277: the dumps, to the destination whatever the mode.
int dump(State* st, TraceBlock* t, const Request& r, int which) {
    if (!trace_has_dest(t)) return need_name(st);
    TraceOut out(st, t);
    if (st->traceOn) out.open_once(false);
    if (t->recordOpen) {
        out.blank();
        t->recordOpen = false;
    }
    switch (which) {
    case 205: dump_functions(st, out); break;
    case 206: dump_variables(st, out); break;
    case 207: dump_settings(st, out); break;
    case 208: trace_environment(st, out); break;
    default:  dump_internal(st, out, ansi(st, r.text).c_str()); break;
    }
    return 1;
}

typedef int (*RequestFn)(State* st, TraceBlock* t, const Request& r, int number);
struct RequestRow {
    int       number;
    RequestFn fn;
};

const RequestRow kRequests[] = {
    {-1, [](State*, TraceBlock*, const Request&, int) { return 1; }},
    {0, [](State* st, TraceBlock* t, const Request&, int) {
         st->traceOn = 0;
         t->savedMode = 0;
         return 1;
     }},
    {1, [](State* st, TraceBlock* t, const Request& r, int) { return switch_on(st, t, r, 1, false); }},
    {10, [](State* st, TraceBlock* t, const Request& r, int) { return switch_on(st, t, r, 1, true); }},
    {2, [](State* st, TraceBlock* t, const Request& r, int) { return switch_on(st, t, r, 2, false); }},
    {3, [](State* st, TraceBlock* t, const Request& r, int) { return write_text(st, t, r, false, false); }},
    {4, [](State* st, TraceBlock* t, const Request& r, int) { return write_text(st, t, r, true, false); }},
    {22, [](State* st, TraceBlock* t, const Request&, int) {
         // Inside a function body (or a callback) the trace is off unless the
         // body asks for the mode of the code that called it.
         if (st->udfNesting && !st->traceOn) st->traceOn = t->savedMode;
         return 1;
     }},
    {100, [](State* st, TraceBlock* t, const Request& r, int) { return destination_only(st, t, r, false); }},
    {101, [](State* st, TraceBlock* t, const Request& r, int) { return destination_only(st, t, r, true); }},
    {102, [](State* st, TraceBlock* t, const Request& r, int) { return set_option(st, t, r, TO_ERRORS); }},
    {103, [](State* st, TraceBlock* t, const Request& r, int) { return set_option(st, t, r, TO_DUMPS); }},
    {104, [](State* st, TraceBlock* t, const Request& r, int) { return set_option(st, t, r, TO_NOTIMES); }},
    {200, [](State* st, TraceBlock* t, const Request& r, int) {
         st->traceOn = 0;
         t->savedMode = 0;
         t->options = 0;
         t->dest[0] = 0;
         t->started = false;
         if (!r.text.empty()) set_destination(t, r.text, false);
         return 1;
     }},
    {203, [](State* st, TraceBlock* t, const Request& r, int) { return write_text(st, t, r, false, true); }},
    {204, [](State* st, TraceBlock* t, const Request& r, int) { return write_text(st, t, r, true, true); }},
    {205, dump}, {206, dump}, {207, dump}, {208, dump}, {277, dump},
};

// DebugTrace(request [, text [, option]]): returns 1 when the trace was on
// before the request, else 0.
void fn_debugtrace(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int number = args[1].i;
    const bool wasOn = st->traceOn != 0;
    const RequestRow* row = nullptr;
    for (const RequestRow& r : kRequests)
        if (r.number == number) row = &r;
    if (!row) {
        st->err = 1809;   // "Invalid request number"
        return;
    }
    Request r;
    if (nargs >= 2) r.text = cell_wstr(st, &args[2]);
    if (nargs >= 3) {
        r.hasOption = true;
        r.option = args[3].i;
    }
    cell_set_int(st, result, wasOn ? 1 : 0);
    TraceBlock* t = trace_block(st);
    if (!t) return void(st->err = 1588);   // no memory for the trace: it stays as it was
    g_traceWriter = trace_write;
    row->fn(st, t, r, number);
}

}  // namespace

int64_t trace_host_request(State* st, const char* file, const wchar_t* wfile, int64_t options, int64_t fresh) {
    std::wstring name;
    if (file) {
        const int n = MultiByteToWideChar(CP_ACP, 0, file, -1, nullptr, 0);
        if (n > 1) {
            name.resize(static_cast<size_t>(n - 1));
            MultiByteToWideChar(CP_ACP, 0, file, -1, name.data(), n);
        }
    } else if (wfile) {
        name = wfile;
    }
    if (name.empty()) {
        st->traceAtStart = 0;
        return 1;
    }
    TraceBlock* t = trace_block(st);
    if (!t) return 0;
    set_destination(t, name, fresh != 0);
    t->options = static_cast<uint32_t>(options) & (TO_NOTIMES | TO_ERRORS | TO_DUMPS);
    t->savedMode = 1;
    st->traceAtStart = 1;
    g_traceWriter = trace_write;
    return 1;
}

extern const BuiltinEntry g_traceBuiltins[] = {
    {KW_DEBUG,      fn_debug},
    {KW_DEBUGDATA,  fn_debugdata},
    {KW_DEBUGTRACE, fn_debugtrace},
    {0, nullptr},
};
