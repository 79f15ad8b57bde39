// The line loop: walks a script buffer one logical line at a time.
//
// Per line: comments and empty lines are passed over; the definition
// directives (#DefineFunction and friends) open and close function bodies,
// whose lines are not run here; percent substitution rewrites the line; a
// ":label" line runs the statement written after the label, if any; every
// other line goes to the statement wrapper. Between statements window
// messages are pumped and a stop request ends the loop.
//
// The loop is re-entrant: function bodies, callbacks and called scripts run
// in a nested loop while a statement of the outer one is half evaluated, so
// a nested loop keeps the outer statement's line, token position and
// position records and gives them back when it ends.
#include "exec_internal.h"
#include "value.h"
#include "errors.h"
#include "loader.h"
#include "dispatch.h"
#include "linecache.h"
#include "textscan.h"
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// What the statement running when a nested loop starts is in the middle of.
// Only the used parts of the token and line buffers are copied: a function
// call saves and restores this around every call.
struct RunningContext {
    uint8_t  tokenizer[offsetof(State, token) - offsetof(State, prog)];
    char     token[TOKEN_BUF];
    char     line[LINE_BUF];
    HGLOBAL  buffer;
    uint32_t linePos, stmtPos, nextPos;

    void save(const State* st) {
        memcpy(tokenizer, &st->prog, sizeof tokenizer);
        text_copy_z(token, st->token, TOKEN_BUF);
        text_copy_z(line, st->line, LINE_BUF);
        buffer = st->curBuffer;
        linePos = st->curLinePos;
        stmtPos = st->curStmtPos;
        nextPos = st->nextPos;
    }
    void restore(State* st) const {
        memcpy(&st->prog, tokenizer, sizeof tokenizer);
        text_copy_z(st->token, token, TOKEN_BUF);
        text_copy_z(st->line, line, LINE_BUF);
        st->curBuffer = buffer;
        st->curLinePos = linePos;
        st->curStmtPos = stmtPos;
        st->nextPos = nextPos;
    }
};

// The contexts are kept per nesting depth for the life of the state, so a
// call allocates nothing; deeper nesting than the pool holds allocates.
class SavedContext {
public:
    SavedContext(State* st, bool wanted) : st_(st) {
        if (!wanted) return;
        const uint16_t depth = st->loopDepth;
        if (depth < MAX_SCOPES) {
            void*& slot = st->runningPool[depth];
            if (!slot) slot = new (std::nothrow) RunningContext;
            ctx_ = static_cast<RunningContext*>(slot);
        } else {
            ctx_ = new (std::nothrow) RunningContext;
            owned_ = true;
        }
        if (ctx_) st->loopDepth++;
    }
    ~SavedContext() {
        if (!ctx_) return;
        st_->loopDepth--;
        if (owned_) delete ctx_;
    }
    SavedContext(const SavedContext&) = delete;
    SavedContext& operator=(const SavedContext&) = delete;
    RunningContext* get() const { return ctx_; }

private:
    State* st_;
    RunningContext* ctx_ = nullptr;
    bool owned_ = false;
};

// The memory of the buffer a loop runs, locked on the first line the line
// cache does not have: a function whose lines are all known runs without a
// lock. Nothing resizes a buffer that is running, so its size is taken once.
class BufferMemory {
public:
    explicit BufferMemory(HGLOBAL buf) : buf_(buf) {}
    ~BufferMemory() {
        if (mem_) GlobalUnlock(buf_);
    }
    BufferMemory(const BufferMemory&) = delete;
    BufferMemory& operator=(const BufferMemory&) = delete;
    // nullptr when the lock fails (the per-line reader then reports it).
    const uint8_t* get() {
        if (!tried_) {
            tried_ = true;
            mem_ = buf_ ? static_cast<const uint8_t*>(GlobalLock(buf_)) : nullptr;
            size_ = mem_ ? GlobalSize(buf_) : 0;
        }
        return mem_;
    }
    size_t size() const { return size_; }

private:
    HGLOBAL buf_;
    const uint8_t* mem_ = nullptr;
    size_t size_ = 0;
    bool tried_ = false;
};

// Pumps window messages between statements, at most once per clock tick:
// the host's windows stay responsive without a message-queue round trip
// after every statement of a tight loop. The clock itself is read every
// sixteenth statement (a statement that waits pumps while it waits).
void pump_between_statements(State* st) {
    if (st->pumpSkip) {
        st->pumpSkip--;
        return;
    }
    st->pumpSkip = 15;
    const uint32_t now = GetTickCount();
    if (now == st->lastPumpTick) return;
    st->lastPumpTick = now;
    pump_messages(st);
}

void debug_line(const char* line) {
    char text[LINE_BUF + 16];
    snprintf(text, sizeof text, ">>>>>%s<<<<<\r\n", line);
    OutputDebugStringA(text);
}

// A label line: the offset of the statement written after the name, or 0
// when there is none.
int label_statement(const char* line) {
    const char* p = line + 1;
    while (*p && *p != ' ' && *p != '\t') ++p;
    p = ex::skip_blanks(p);
    return *p && *p != ';' ? static_cast<int>(p - line) : 0;
}

// A run of lines that a structure entry passes over (see line_skip_record).
// It is noted only when nothing in it can be seen from outside: no trace,
// debugger output or per-line host notification, no directive, no error (a
// line too long is one), and the nesting it meets stays balanced.
class SkipWalk {
public:
    // Called before a line is processed while its entry is known. Returns the
    // position to jump to (a run noted before), or 0 to process the line.
    // Runs begin and end with no pending single-line If result, so a jump
    // leaves that state as the walk did (a skipped block statement resets it).
    // `extra` is the deepest extra nesting of the run jumped over.
    uint32_t before_line(State* st, LineEntry* entry, uint32_t linePos, uint32_t* extra) {
        if (start_ || !entry || observed(st) || !is_skipping(st) || st->pendingIf != -1) return 0;
        const StructEntry& top = st->stack[st->stackCount - 1];
        uint32_t target = 0;
        if (line_skip_target(entry, top.kind, top.status, &target, extra) && st->stackCount + *extra < MAX_STRUCT - 1)
            return target;
        start_ = entry;
        firstPos_ = linePos;
        kind_ = top.kind;
        status_ = top.status;
        depth_ = st->stackCount;
        deepest_ = depth_;
        errors_ = st->errorEvents;
        clean_ = true;
        return 0;
    }
    // Called after each line of a run: what the line was, where it began and
    // the stack depth before it. Ends the run at the first line that did
    // something for the entry, and notes it when the run was clean.
    void after_line(State* st, uint32_t linePos, uint32_t depthBefore, bool ranStatement, bool directive) {
        if (!start_) return;
        if (directive || observed(st) || st->errorEvents != errors_ || st->pendingLineTooLong ||
            st->pendingIf != -1)
            clean_ = false;
        if (st->stackCount > deepest_) deepest_ = st->stackCount;
        // A Break or Continue met while skipping does nothing either.
        const bool passedOver = st->traceEvent == TE_SKIPPED ||
                                ((st->traceEvent == TE_BREAK || st->traceEvent == TE_CONTINUE) && !st->traceOutcome);
        const bool pure = depthBefore > depth_ || !ranStatement || passedOver;
        bool goesOn = pure && st->stackCount >= depth_;
        if (goesOn && st->stackCount == depth_) {
            const StructEntry& top = st->stack[depth_ - 1];
            goesOn = top.kind == kind_ && top.status == status_;
        }
        if (goesOn && clean_) return;
        if (!goesOn && clean_ && linePos != firstPos_)
            line_skip_record(start_, kind_, status_, linePos, deepest_ - depth_);
        start_ = nullptr;
    }

    // No run is open: the next line starts afresh.
    bool idle() const { return !start_; }

    static bool observed(const State* st) { return lines_watched(st); }

private:
    LineEntry* start_ = nullptr;
    uint16_t kind_ = 0;
    uint8_t  status_ = 0;
    uint32_t depth_ = 0, deepest_ = 0, errors_ = 0, firstPos_ = 0;
    bool     clean_ = false;
};

// A Switch that looks for its match: after it, the line loop goes straight to
// the Case line known to match its value (line_case_target). Such a target is
// learnt by watching the lines that follow a Switch: Case lines with other
// literal values and skip-record jumps, up to the Case line that matches.
class CaseWalk {
public:
    // After a line ran. `quickCase`: it was a literal Case run by the loop.
    // Returns the position of the matching Case line when one is known for a
    // Switch that just ran, else 0.
    uint32_t after_line(State* st, LineEntry* entry, uint32_t linePos, uint32_t depthBefore, bool quickCase) {
        if (switch_) {
            if (quickCase && st->stackCount == depth_) {
                if (st->traceOutcome) {   // this Case matched
                    line_case_target_record(switch_, value_, linePos, extra_);
                    switch_ = nullptr;
                }
            } else {
                switch_ = nullptr;
            }
        }
        if (!entry || st->traceEvent != TE_SWITCH || st->stackCount != depthBefore + 1 || SkipWalk::observed(st))
            return 0;
        const StructEntry& top = st->stack[st->stackCount - 1];
        if (top.kind != SK_SWITCH || top.status != SS_LOOKING || st->pendingIf != -1) return 0;
        const int32_t value = static_cast<int32_t>((top.resume << 16) | top.var);
        uint32_t target = 0, extra = 0;
        if (line_case_target(entry, value, &target, &extra))
            return st->stackCount + extra < MAX_STRUCT - 1 ? target : 0;
        switch_ = entry;
        depth_ = st->stackCount;
        value_ = value;
        extra_ = 0;
        return 0;
    }
    // A skip-record jump while a Switch looks for its match.
    void jumped(uint32_t extra) {
        if (extra > extra_) extra_ = extra;
    }

private:
    LineEntry* switch_ = nullptr;   // the Switch line whose match is being learnt
    uint32_t   depth_ = 0, extra_ = 0;
    int32_t    value_ = 0;
};

}  // namespace

DebugStepHook g_debugStep = nullptr;

int exec_next_line(State* st, char* out) {
    if (out == st->line) tokens_detach(st);
    uint32_t textPos;
    int r = read_line(st, st->curBuffer, &st->nextPos, out, &textPos, exec_key_base(st));
    st->pendingLineTooLong = 0;   // continuation lines are cut silently
    return r == 1 ? 1 : 0;
}

int line_loop(State* st, Cell* result, HGLOBAL buf, uint32_t* pos, void* caller) {
    (void)caller;   // frames pushed below record st->curBuffer as their caller context
    const bool nested = st->curBuffer != nullptr;
    SavedContext saved(st, nested);
    RunningContext* outer = saved.get();
    if (nested) {
        if (!outer) {
            // The nested run cannot start. Its caller takes a failed nested
            // run for one whose error was reported inside, so report it here,
            // at the statement that called.
            err_report(st, nullptr, 1, 1672, err_severity(1672));
            return ex::fail(st, 1672);
        }
        outer->save(st);
        tokens_detach(st);
    }
    st->curBuffer = buf;
    const uint32_t keyBase = exec_key_base(st);
    char* line = st->line;

    StmtCtx cx{};
    cx.line = line;
    cx.next = &st->nextPos;
    cx.buf = buf;
    cx.result = result;

    // Once locked, the buffer stays locked while the loop runs: locking and
    // sizing it for every line costs more than running a short statement.
    BufferMemory memory(buf);
    BufferLines* lines = lines_of(st, buf, keyBase);
    LineEntry* entry = nullptr;   // the line that ran last
    SkipWalk skip;
    CaseWalk cases;
    // What the line processed last was, for the skip walk.
    uint32_t lastPos = 0, lastDepth = 0;
    bool lastRan = false, lastDirective = false, haveLast = false;

    int rc = 1;
    for (;;) {
        if (haveLast) skip.after_line(st, lastPos, lastDepth, lastRan, lastDirective);
        haveLast = false;
        const uint32_t linePos = *pos;
        uint32_t textPos = linePos;
        tokens_detach(st);
        int got;
        entry = line_next(lines, entry, linePos);
        if (entry) {
            // A run of passed-over lines known from before is jumped before
            // the line is even copied; the entry stays the link to the
            // target, so the next line is found without a lookup.
            uint32_t extra = 0;
            const uint32_t jump = skip.before_line(st, entry, linePos, &extra);
            if (jump) {
                cases.jumped(extra);
                *pos = jump;
                continue;
            }
            bool tooLong;
            line_fetch(entry, line, &textPos, pos, &tooLong);
            if (tooLong) st->pendingLineTooLong = 1;
            got = 1;
        } else {
            const uint8_t pendingBefore = st->pendingLineTooLong;
            st->pendingLineTooLong = 0;
            const uint8_t* mem = memory.get();
            got = mem ? read_line_mem(st, mem, memory.size(), pos, line, &textPos, keyBase)
                      : read_line(st, buf, pos, line, &textPos, keyBase);
            const bool tooLong = st->pendingLineTooLong != 0;
            st->pendingLineTooLong |= pendingBefore;
            if (got == 1) entry = line_store(lines, linePos, line, textPos, *pos, tooLong);
            uint32_t extra = 0;
            if (got == 1 && entry) skip.before_line(st, entry, linePos, &extra);   // a new line starts a run, never jumps
        }
        haveLast = true;
        lastPos = linePos;
        lastDepth = st->stackCount;
        lastRan = false;
        lastDirective = false;
        if (got < 0) {   // the buffer could not be locked (the reader said so)
            rc = ex::fail(st, 9014);
            break;
        }
        st->curLinePos = linePos;
        st->curStmtPos = textPos;
        st->nextPos = *pos;
        if (got == 0) {
            if (!st->inDefinition) break;
            // The buffer ended inside a definition.
            st->inDefinition = 0;
            st->err = st->pendingErr ? st->pendingErr : 3723;
            st->pendingErr = 0;
            if (!err_after_statement(st, "", linePos, &st->nextPos, buf)) {
                rc = 0;
                break;
            }
            *pos = st->nextPos;
            continue;
        }
        if (line[0] == 0 || line[0] == ';') continue;

        if (line[0] == '#') {
            const int d = directive_of(line);
            if (d >= 0) {
                lastDirective = true;
                const int ok = d < DIR_ENDFUNC ? udf_define(st, line, d, *pos) : udf_end(st, d, buf, linePos);
                if (!ok) {
                    if (!err_after_statement(st, line, linePos, &st->nextPos, buf)) {
                        rc = 0;
                        break;
                    }
                    *pos = st->nextPos;
                }
                continue;
            }
        }
        if (st->inDefinition) {
            st->pendingLineTooLong = 0;   // raised when the body runs
            continue;
        }

        bool substituted = false;
        // The line runs as it stands in the buffer, unless percent
        // substitution may rewrite it.
        const bool fixedText = entry ? line_plain(entry) : line_text_plain(line);
        if (!fixedText) {
            const int ps = percent_subst(st, line);
            if (ps == 0) {
                if (!is_skipping(st)) {   // the statement would have run: fatal
                    err_report(st, nullptr, 1, st->err, SEV_FATAL);
                    err_detail_free(st);
                    rc = 0;
                    break;
                }
                st->err = 0;
                err_detail_free(st);
            }
            substituted = ps == 2;
        }

        int offset = 0;
        if (line[0] == ':') {
            offset = label_statement(line);
            if (!offset) continue;
        }
        st->curStmtPos = textPos + static_cast<uint32_t>(offset);

        if (st->debugOut) {
            debug_line(line);
            if (st->debugOut == 1 && g_debugStep) g_debugStep(st, line);
        }
        if (st->hostNotify & HN_PERLINE) {
            if (host_notify(st, -1, line, 0) == 9012) st->err = 9012;
            if (st->err == 9012) {
                rc = 0;
                break;
            }
        }

        cx.linePos = linePos;
        cx.textPos = textPos;
        cx.substituted = substituted;
        cx.lineEnd = *pos;
        tokens_attach(st, fixedText ? entry : nullptr);
        lastRan = true;
        const bool whole = entry && fixedText && offset == 0;   // the line as cached, from its start
        int r = -2;
        if (whole && st->stackCount) {   // only a Switch looking for its match has literal Cases to compare
            const StructEntry& top = st->stack[st->stackCount - 1];
            if (top.kind == SK_SWITCH && (top.status == SS_LOOKING || top.status == SS_CONTINUE))
                r = ex::case_quick(st, entry);
        }
        const bool quickCase = r != -2;
        if (!quickCase && whole) r = stmt_keyword_quick(st, &cx, entry);
        if (r == -2) r = stmt_wrapper(st, &cx, offset);
        *pos = st->nextPos;
        if (r == 1) {
            const uint32_t match = cases.after_line(st, whole ? entry : nullptr, linePos, lastDepth, quickCase);
            if (match) {
                *pos = match;
                // The Case line matched before and would only say so again:
                // the loop applies it and goes on after it. Nothing of the
                // skip walk is lost: after a line that ran no run is open,
                // and the Case line would open none that lasts.
                LineEntry* known = line_next(lines, entry, match);
                if (known && ex::case_known(st, known)) {
                    entry = known;
                    *pos = line_next_pos(known);
                }
            } else if (whole && st->traceEvent == TE_BREAK && st->traceOutcome && st->stackCount) {
                // A Break that ended a case, the lines after it known to be
                // passed over up to the EndSwitch: the loop applies that line
                // and goes on after it (no skip run is open after a line
                // that ran, and the jump and the EndSwitch open none).
                const StructEntry& top = st->stack[st->stackCount - 1];
                LineEntry* after = top.kind == SK_SWITCH && top.status == SS_BREAK && st->pendingIf == -1
                                       ? line_next(lines, entry, *pos) : nullptr;
                uint32_t target = 0, extra = 0;
                if (after && skip.idle() && !SkipWalk::observed(st) &&
                    line_skip_target(after, SK_SWITCH, SS_BREAK, &target, &extra) &&
                    st->stackCount + extra < MAX_STRUCT - 1) {
                    LineEntry* end = line_next(lines, after, target);
                    if (end && ex::end_switch_known(st, end)) {
                        entry = end;
                        *pos = line_next_pos(end);
                    }
                }
            }
        }
        if (r != -1) {   // after Return the result cell carries the returned value
            cell_release(st, result, CM_VARBOUND);
            cell_init(result);
        }
        if (r != 1) {
            rc = r;
            break;
        }
        pump_between_statements(st);
        if (st->stopRequest) {
            if (st->stopShowMsg) {
                char text[256], title[256];
                core_box(st, msg_text(st, 194, text, sizeof text), msg_text(st, 192, title, sizeof title),
                         MB_OK | MB_ICONINFORMATION);
                st->stopShowMsg = 0;   // once, not again by every enclosing loop
            }
            rc = 0;
            break;
        }
    }
    st->pendingLineTooLong = 0;
    st->lastResult = static_cast<uint32_t>(rc);
    st->lastPos = *pos;
    st->lastBuffer = buf;
    if (!nested && g_traceWriter) {
        const uint16_t e = st->err;
        if (rc != 0) {
            if (st->traceOn) g_traceWriter(st, TRACE_END_OF_JOB, "", nullptr);
        } else if ((e && e < 9000) || (e >= 9013 && e <= 9016)) {
            g_traceWriter(st, TRACE_JOB_FAILED, "", nullptr);   // stopped on an error
        }
    }
    if (outer) outer->restore(st);
    else st->curBuffer = nullptr;
    return rc;
}

bool running_context_ready(State* st) {
    if (st->loopDepth >= MAX_SCOPES) return true;   // deeper runs allocate their own
    void*& slot = st->runningPool[st->loopDepth];
    if (!slot) slot = new (std::nothrow) RunningContext;
    return slot != nullptr;
}

void running_pool_free(State* st) {
    for (void*& p : st->runningPool) {
        delete static_cast<RunningContext*>(p);
        p = nullptr;
    }
    st->loopDepth = 0;
}
