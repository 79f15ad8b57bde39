// The trace's output channel: the trace file, or the debugger output when the
// destination is "*DEBUGDATA*".
#include "trace_block.h"
#include "trace.h"
#include <cstdio>
#include <new>

TraceBlock* trace_block(State* st) {
    if (!st->traceBlock) st->traceBlock = new (std::nothrow) TraceBlock;
    return st->traceBlock;
}

void trace_teardown(State* st) {
    delete st->traceBlock;
    st->traceBlock = nullptr;
    st->traceOn = 0;
    st->traceAtStart = 0;
}

bool trace_to_debugger(const TraceBlock* t) { return t && _wcsicmp(t->dest, L"*DEBUGDATA*") == 0; }

void TraceOut::line(std::string_view text) {
    text_.append(text);
    text_ += "\r\n";
}

std::string TraceOut::elapsed() const {
    if (t_->options & TO_NOTIMES) return {};
    char mark[24];
    snprintf(mark, sizeof mark, "(%lu) ", static_cast<unsigned long>(GetTickCount() - t_->startTick));
    return mark;
}

void TraceOut::open_once(bool errorOnly) {
    if (t_->started) return;
    t_->started = true;
    t_->lastUdf = 65535;
    blank();
    line(repeat('*', 60));
    blank();
    line(trace_msg(st_, errorOnly ? 870 : 807));   // "*** Error Dump Initialized ***" / "*** Debug Initialized ***"
    trace_environment(st_, *this);
    blank();
    // The clock starts after the header, whose checks (the code signature)
    // would otherwise count as time spent by the first statement.
    t_->startTick = GetTickCount();
}

void TraceOut::flush() {
    if (text_.empty() || !trace_has_dest(t_)) {
        text_.clear();
        return;
    }
    if (trace_to_debugger(t_)) {
        // A line at a time, ended in place: flush runs from the destructor
        // and must not need memory.
        size_t from = 0;
        while (from < text_.size()) {
            size_t end = text_.find("\r\n", from);
            end = end == std::string::npos ? text_.size() : end + 2;
            const char kept = text_[end];
            text_[end] = 0;
            OutputDebugStringA(text_.data() + from);
            text_[end] = kept;
            from = end;
        }
    } else {
        HANDLE f = CreateFileW(t_->dest, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(f, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr);
            CloseHandle(f);
        }
    }
    text_.clear();
}
