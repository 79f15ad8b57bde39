// The internal dumps: the function table, the variable table, the keyword
// lookup, the settings file, the structure stack and single items of internal
// information. Each is a begin line, its rows, an end line, a blank line and
// a line of 60 stars.
#include "interop/binary/binbuf.h"
#include "library/files/files.h"
#include "trace_block.h"
#include "errors.h"
#include "exec.h"
#include "lexer_internal.h"
#include "loader.h"
#include "value.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

void framed(TraceOut& out, const char* begin, const char* end, const std::function<void()>& rows) {
    out.line(begin);
    rows();
    out.line(end);
    out.blank();
    out.line(repeat('*', 60));
}

std::string printf_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printf_line(const char* format, ...) {
    char text[600];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    return text;
}

// ---- function table ----

// Arguments a function takes (required plus optional; 255 any number); 0 for
// records that are not functions.
int param_count(const KeywordRec& r) {
    if (r.cls != KC_FUNCTION && r.cls != KC_COMMAND && r.cls != KC_VARNAME) return 0;
    const int required = r.value & 0xFF;
    return required == 255 ? 255 : required + ((r.value >> 8) & 0xFF);
}

void function_row(TraceOut& out, uint32_t index, const KeywordRec& r) {
    out.line(printf_line("%4d,  %d,  %08lX%08lX,  %8lX,  %2d,  %.34s", static_cast<int>(index), param_count(r),
                         static_cast<unsigned long>(r.argTypes >> 32),
                         static_cast<unsigned long>(r.argTypes & 0xFFFFFFFFu), static_cast<unsigned long>(r.code),
                         static_cast<int>(r.cls), r.name));
}

// ---- variable table ----

std::string variable_value(State* st, const Cell* c) {
    if ((c->type & TW_BINBUF) == TW_BINBUF) {
        // Binary buffer handles count from 987659; the size is that of the block.
        const BinSlot* b = binbuf_get(st, c->i);
        return printf_line("%ld  <binary buffer>", b ? static_cast<long>(b->size) : 0L);
    }
    return trace_plain_value(st, c);
}

// ---- keyword lookup ----

const char* quicklook_state() {
    const lex::QuickLook& q = lex::quicklook();
    bool empty = true;
    for (uint32_t v : q.a) empty = empty && v == 0;
    if (empty) return "QuickLook structure not yet initialized.";
    lex::QuickLook fresh{};
    lex::quicklook_build(g_keywords, NKEYTOKENS, &fresh, [](const char*, const char*) {});
    const bool same = memcmp(q.a, q.b, sizeof q.a) == 0 && memcmp(q.a, fresh.a, sizeof q.a) == 0;
    return same ? "QuickLook structure is okay." : "QuickLook structure has been damaged!";
}

// ---- settings file ----

void settings_rows(TraceOut& out) {
    char path[MAX_PATH + 16];
    HANDLE f = settings_file_path(path, sizeof path)
                   ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)
                   : INVALID_HANDLE_VALUE;
    if (f == INVALID_HANDLE_VALUE) {
        out.line("<File not found>");
        return;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    const size_t n = size.QuadPart > 0 && size.QuadPart < (1 << 30) ? static_cast<size_t>(size.QuadPart) : 0;
    std::unique_ptr<char[]> text(new (std::nothrow) char[n + 1]);
    DWORD got = 0;
    if (!text) {
        out.line("<Unable to allocate or lock memory>");
    } else if (n && (!ReadFile(f, text.get(), static_cast<DWORD>(n), &got, nullptr) || got != n)) {
        out.line("<Error reading file>");
    } else {
        std::string s(text.get(), got);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (!s.empty()) out.line(s);
    }
    CloseHandle(f);
}

// ---- structure stack ----

struct KindName {
    uint16_t    kind;
    const char* name;
};
const KindName kKinds[] = {
    {SK_FOR, "For"}, {SK_FOREACH, "ForEach"}, {SK_SWITCH, "Switch"}, {SK_WHILE, "While"},
    {SK_IF, "If"}, {SK_ELSE, "Else"}, {SK_GOSUB_FALSE, "GoSub"}, {SK_GOSUB_TRUE, "GoSub"},
    {SK_GOSUB_NONE, "GoSub"}, {SK_CALL, "Call"}, {SK_UDF, "Function"},
};

std::string structure_row(State* st, uint32_t i) {
    const StructEntry& e = st->stack[i];
    const char* name = "?";
    for (const KindName& k : kKinds)
        if (k.kind == e.kind) name = k.name;
    char file[MAX_PATH] = "";
    uint32_t line = 0;
    HGLOBAL buf = static_cast<HGLOBAL>(e.caller);
    if (!buf || !err_source_location(st, buf, e.linePos, file, sizeof file, &line)) file[0] = 0;
    const UdfRecord* rec = e.kind == SK_UDF && e.script != 65535 ? udf_record(st, e.script) : nullptr;
    return printf_line("%3u  %5u  %s%s%s  status %u  line %u  %s", i + 1, e.kind, name, rec ? " " : "",
                       rec ? rec->name : "", e.status, line, file);
}

// ---- internal information ----

struct InfoItem {
    const char* name;
    std::string (*row)(State* st);
};
const InfoItem kItems[] = {
    {"strings", [](State* st) {
         return printf_line("Total memory allocated for strings, in bytes: %ld", static_cast<long>(st->heapCommitted));
     }},
    {"calllevel", [](State* st) { return printf_line("Current Call level depth: %ld", static_cast<long>(st->level)); }},
    {"variables", [](State* st) { return printf_line("Variable slots in use: %u of %u", st->varUsed, st->varSlots); }},
    {"structures", [](State* st) {
         return printf_line("Open structures: %u of %d", st->stackCount, MAX_STRUCT - 1);
     }},
    {"udfs", [](State* st) { return printf_line("User-defined functions: %u of %d", st->udfCount, MAX_UDF); }},
    {"files", [](State* st) {
         return printf_line("File slots available: %d of %d", file_slots_available(st), MAX_FILES);
     }},
    {"binbufs", [](State* st) {
         int available = 0;
         for (int32_t h = BINBUF_BASE; h <= BINBUF_LAST; ++h) available += binbuf_get(st, h) ? 0 : 1;
         return printf_line("Binary buffer slots available: %d of %d", available, MAX_BINBUF);
     }},
    {"extenders", [](State* st) {
         return printf_line("Extender functions: %u of %d", st->nNextExtEntry, MAX_EXTFUNCS);
     }},
    {"objects", [](State*) { return std::string("Automation object slots available: -1"); }},
};

}  // namespace

void dump_functions(State* st, TraceOut& out) {
    framed(out, "---------- Begin function table dump ----------", "----------- End function table dump -----------",
           [&] {
               for (uint32_t i = 0; i < NKEYTOKENS; ++i) function_row(out, i, g_keywords[i]);
               out.line("------------------ Extenders ------------------");
               for (uint32_t i = 0; i < st->nNextExtEntry && i < MAX_EXTFUNCS; ++i)
                   function_row(out, i, st->extFuncs[i]);
           });
}

std::vector<std::string> variable_rows(State* st) {
    std::vector<std::string> rows;
    for (uint16_t i = 1; st->vars && i < st->varUsed; ++i) {
        VarSlot& v = st->vars[i];
        const Cell* c = slot_cell(&v);
        char type[128];
        type_name(c->type, type, sizeof type, (c->type & TW_VARIANT) ? c->var.vt : 0);
        rows.push_back(printf_line("%-13s  %s = ", type, v.name) + variable_value(st, c));
    }
    return rows;
}

void dump_variables(State* st, TraceOut& out) {
    framed(out, "---------- Begin variable table dump ----------", "----------- End variable table dump -----------",
           [&] {
               for (const std::string& row : variable_rows(st)) out.line(row);
           });
}

void dump_keywords(State* st, TraceOut& out) {
    framed(out, "------- Begin keyword lookup debug dump -------", "-------- End keyword lookup debug dump --------",
           [&] {
               char program[MAX_PATH] = "";
               GetModuleFileNameA(nullptr, program, MAX_PATH);
               out.line(quicklook_state());
               out.line(printf_line("NKEYTOKENS: %u", NKEYTOKENS));
               out.line(printf_line("ADDONSTART: %u", ADDONSTART));
               out.line(printf_line("UDFSTART: %u", UDFSTART));
               out.line(printf_line("PARENTSTART: %u", PARENTSTART));
               out.line(printf_line("VARNAMESIZE: %d", VARNAMESIZE));
               out.line(printf_line("Next extender entry: %u", st->nNextExtEntry));
               out.line(printf_line("Delimiter type: %d", st->delimType));
               out.line(printf_line("Program name: %s", program));
           });
}

void dump_settings(State* st, TraceOut& out) {
    (void)st;
    framed(out, "---------- Begin CORVEXRC.INI dump ----------", "----------- End CORVEXRC.INI dump -----------",
           [&] { settings_rows(out); });
}

void dump_structures(State* st, TraceOut& out) {
    framed(out, "---------- Begin structure stack dump ----------", "-------- End structure stack dump --------",
           [&] {
               for (uint32_t i = 0; i < st->stackCount && i < MAX_STRUCT; ++i) out.line(structure_row(st, i));
           });
}

void dump_internal(State* st, TraceOut& out, const char* item) {
    const bool all = !item || !*item || _stricmp(item, "all") == 0;
    if (!all && _stricmp(item, "stack") == 0) return dump_structures(st, out);
    if (!all && _stricmp(item, "keywords") == 0) return dump_keywords(st, out);
    framed(out, "---------- Begin internal info dump -----------", "----------- End internal info dump ------------",
           [&] {
               bool found = false;
               for (const InfoItem& i : kItems) {
                   if (!all && _stricmp(item, i.name) != 0) continue;
                   out.line(i.row(st));
                   found = true;
               }
               if (!found) out.line(printf_line("Invalid param: %s", item));
           });
}
