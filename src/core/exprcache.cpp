// Compiled expressions (see exprcache.h for what qualifies and why no script
// can tell). The compiler walks the cached tokens of the line with the
// evaluator's own precedence rules and emits postfix operations; the runner
// computes them on a small stack of cells.
#include "exprcache.h"
#include "dispatch.h"
#include "eval.h"
#include "exec.h"
#include "keywords.h"
#include "lexer_internal.h"
#include "linecache.h"
#include "tokenizer.h"
#include "value.h"
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kMaxStack = 16;   // cells on the stack at once
constexpr int kMaxDepth = 32;   // nesting of parentheses and unary operators

enum : uint8_t { P_INT, P_INT64, P_STR, P_CONST, P_VAR, P_BIN, P_UN, P_CALL };

struct Op {
    uint8_t  kind;
    uint8_t  lend;   // P_VAR: a whole argument of a built-in that only reads it (LentArgs)
    uint16_t slot;   // P_VAR: where the name was last found
    uint32_t a;      // P_STR, P_VAR, P_CALL: text offset; P_CONST, P_BIN, P_UN: token code
    uint32_t len;    // P_STR: text length; P_CALL: the number of arguments
    uint32_t id;     // P_CALL: the function's token id
    int64_t  v;      // P_INT, P_INT64; P_CALL: the argument type word
};

}  // namespace

struct ExprProgram {
    std::vector<Op> ops;
    std::string text;              // names and string constants, each NUL-terminated
    int32_t  firstKind = 0;        // the first token, checked on every run
    uint32_t firstCode = 0;
    bool     assign = false;       // "name = ..." or a compound assignment
    uint32_t base = 0;             // the binary operator of a compound assignment
    uint32_t target = 0;           // text offset of the assigned name
    uint16_t targetSlot = SLOT_NONE;
    // The last token of the expression: the state the token after it is read from.
    uint32_t lastIndex = 0;
    uint16_t lastEnd = 0;
    int32_t  lastKind = 0;
    uint32_t lastCode = 0;
    // A program with calls may run again inside one of them (a recursive
    // function) and its line's programs may be dropped meanwhile: the runs
    // in progress are counted and the last one frees a dropped program.
    bool     hasCall = false;
    uint32_t active = 0;
    bool     orphaned = false;
};

void expr_program_free(ExprProgram* p) {
    if (p && p->active)
        p->orphaned = true;
    else
        delete p;
}

namespace {

inline bool is_keyword(const CachedToken* t, uint32_t code) { return t && t->kind == TK_KEYWORD && t->code == code; }

// Builds the program from the tokens of one line. Any token outside the
// compiled subset, or a stretch of the line with no recorded token, ends the
// attempt (ok = false).
class Compiler {
public:
    Compiler(State* st, const LineEntry* e, const char* line, ExprProgram* p) : st_(st), e_(e), line_(line), p_(p) {
        toks_ = line_tokens(e, &n_);
        len_ = line_text_length(e);
    }

    bool run(uint32_t first) {
        idx_ = first;
        cur_ = &toks_[first];
        p_->firstKind = cur_->kind;
        p_->firstCode = cur_->code;
        if (cur_->kind == TK_VARIABLE) {
            const CachedToken* name = cur_;
            const uint32_t nameIdx = idx_;
            if (!advance()) return false;
            uint32_t base;
            if (cur_ && cur_->kind == TK_KEYWORD && op_assignment(cur_->code, &base)) {
                p_->assign = true;
                p_->base = base;
                p_->target = add_text(name);
                p_->targetSlot = name->slot;
                if (!advance()) return false;
            } else {
                // Not an assignment: start again at the variable.
                idx_ = nameIdx;
                cur_ = name;
            }
        }
        if (!expr(2, 0)) return false;
        uint32_t base;
        // An assignment operator after a complete expression is an error the
        // ordinary path reports.
        if (cur_ && cur_->kind == TK_KEYWORD && op_assignment(cur_->code, &base)) return false;
        const CachedToken& last = toks_[lastIdx_];
        p_->lastIndex = lastIdx_;
        p_->lastEnd = last.end;
        p_->lastKind = last.kind;
        p_->lastCode = last.code;
        return ok_;
    }

private:
    // Moves to the token after the current one: the next recorded token when
    // only blanks lie between, nullptr at the end of the line.
    bool advance() {
        const CachedToken* t = cur_;
        if (!t) return ok_ = false;
        lastIdx_ = idx_;
        uint32_t pos = t->end;
        const lex::CharTables& ct = lex::chars();
        while (pos < len_ && (ct.cls[static_cast<unsigned char>(line_[pos])] & lex::CH_BLANK)) pos++;
        if (pos >= len_ || lex::at_line_end(line_[pos])) {
            cur_ = nullptr;
            return true;
        }
        if (idx_ + 1 < n_ && toks_[idx_ + 1].start == pos) {
            cur_ = &toks_[++idx_];
            return true;
        }
        return ok_ = false;
    }

    void emit(uint8_t kind, uint32_t a, int64_t v = 0, uint16_t slot = SLOT_NONE, uint32_t len = 0, uint32_t id = 0) {
        p_->ops.push_back(Op{kind, 0, slot, a, len, id, v});
        if (kind <= P_VAR) sp_++;
        else if (kind == P_BIN) sp_--;
        else if (kind == P_CALL) sp_ += 1 - static_cast<int>(len);
        if (sp_ > kMaxStack) ok_ = false;
    }

    uint32_t add_text(const CachedToken* t) {
        const uint32_t at = static_cast<uint32_t>(p_->text.size());
        p_->text.append(line_token_text(e_, *t));
        p_->text.push_back('\0');
        return at;
    }

    bool expr(int level, int depth) {
        if (!unary(depth)) return false;
        for (;;) {
            if (!cur_ || cur_->kind != TK_KEYWORD) return true;
            const int opLevel = op_binary_level(cur_->code);
            if (opLevel < level || opLevel == 0) return true;
            const uint32_t op = cur_->code;
            if (!advance() || !expr(opLevel + 1, depth + 1)) return false;
            emit(P_BIN, op);
            if (!ok_) return false;
        }
    }

    bool unary(int depth) {
        if (depth > kMaxDepth || !cur_) return ok_ = false;
        if (cur_->kind == TK_KEYWORD) {
            const uint32_t op = cur_->code;
            if (op == KW_OP_NOT || op == KW_OP_MINUS || op == KW_OP_PLUS || op == KW_OP_TILDE) {
                if (!advance() || !unary(depth + 1)) return false;
                emit(P_UN, op);
                return ok_;
            }
        }
        return operand(depth);
    }

    bool operand(int depth) {
        const CachedToken* t = cur_;
        switch (t->kind) {
        case TK_INTEGER: {
            int64_t v;
            bool is64;
            if (!text_is_integer(line_token_text(e_, *t), true, &v, &is64)) return ok_ = false;
            emit(is64 ? P_INT64 : P_INT, 0, v);
            return ok_ && advance();
        }
        case TK_STRING: {
            const uint32_t at = add_text(t);
            emit(P_STR, at, 0, SLOT_NONE, static_cast<uint32_t>(strlen(p_->text.c_str() + at)));
            return ok_ && advance();
        }
        case TK_VARIABLE:
            emit(P_VAR, add_text(t), 0, t->slot);
            if (!ok_ || !advance()) return false;
            // Subscripts (or a stray "[") take the ordinary path.
            return is_keyword(cur_, KW_OP_LBRACKET) ? (ok_ = false) : true;
        case TK_KEYWORD:
            if (t->code < NKEYTOKENS && g_keywords[t->code].cls == KC_CONSTANT) {
                emit(P_CONST, t->code);
                return ok_ && advance();
            }
            if (t->code == KW_OP_LPAREN) {
                if (!advance() || !expr(2, depth + 1)) return false;
                if (!is_keyword(cur_, KW_OP_RPAREN)) return ok_ = false;
                return advance();
            }
            if ((t->code < NKEYTOKENS && g_keywords[t->code].cls == KC_FUNCTION && t->code != KW_Q_OLEOBJECT) ||
                (t->code >= UDFSTART && t->code < UDFSTART + 999))
                return call(t, depth);
            return ok_ = false;
        default:   // floating-point literals, multi-line strings
            return ok_ = false;
        }
    }

    // A call of a built-in or user-defined function with an argument list the
    // ordinary path accepts (anything else it reports, so the line stays
    // uncompiled). Built-ins that read their own list are not compiled.
    bool call(const CachedToken* t, int depth) {
        int req, opt;
        uint64_t types;
        SelfParsingFn ownParser;
        if (call_signature(st_, t->code, &req, &opt, &types, &ownParser) || ownParser) return ok_ = false;
        const uint32_t name = add_text(t);
        if (!advance() || !is_keyword(cur_, KW_OP_LPAREN) || !advance()) return ok_ = false;
        size_t argStart[MAX_CALL_ARGS + 1];
        int n = 0;
        if (!is_keyword(cur_, KW_OP_RPAREN)) {
            for (;;) {
                if (n == MAX_CALL_ARGS) return ok_ = false;
                argStart[n] = p_->ops.size();
                if (!expr(2, depth + 1)) return false;
                n++;
                if (is_keyword(cur_, KW_OP_RPAREN)) break;
                if (!is_keyword(cur_, KW_OP_COMMA) || !advance()) return ok_ = false;
            }
        }
        if (n < req || n > req + opt) return ok_ = false;
        if (builtin_reads_args(t->code)) {
            // A lone variable is lent when no call runs between its read
            // and this call (a call inside a later argument could change it).
            argStart[n] = p_->ops.size();
            size_t lastCall = 0;
            for (size_t i = n ? argStart[0] : 0; i < p_->ops.size(); ++i)
                if (p_->ops[i].kind == P_CALL) lastCall = i + 1;
            for (int k = 0; k < n; ++k) {
                Op& o = p_->ops[argStart[k]];
                if (argStart[k + 1] - argStart[k] == 1 && o.kind == P_VAR && argStart[k] >= lastCall) o.lend = 1;
            }
        }
        emit(P_CALL, name, static_cast<int64_t>(types), SLOT_NONE, static_cast<uint32_t>(n), t->code);
        p_->hasCall = true;
        return ok_ && advance();
    }

    State* st_;
    const LineEntry* e_;
    const char* line_;
    ExprProgram* p_;
    const CachedToken* toks_ = nullptr;
    uint32_t n_ = 0, len_ = 0;
    uint32_t idx_ = 0, lastIdx_ = 0;
    const CachedToken* cur_ = nullptr;   // nullptr: the end of the line
    int sp_ = 0;
    bool ok_ = true;
};

// The program of the expression at token `first`, or nullptr.
ExprProgram* compile(State* st, const LineEntry* e, const char* line, uint32_t first) {
    auto* p = new (std::nothrow) ExprProgram;
    if (!p) return nullptr;
    bool ok = false;
    try {
        ok = Compiler(st, e, line, p).run(first);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        delete p;
        return nullptr;
    }
    return p;
}

inline void drop(State* st, Cell* c) {
    cell_release(st, c, CM_VARBOUND);
    cell_init(c, 0);
}

// Counts a run in progress (see ExprProgram::active).
class RunGuard {
public:
    explicit RunGuard(ExprProgram* p) : p_(p) { p_->active++; }
    ~RunGuard() {
        if (--p_->active == 0 && p_->orphaned) delete p_;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    ExprProgram* p_;
};

// Runs the program. -1: it stopped before any effect (the state is as it was
// on entry); 1: done, `result` set, the token after the expression current
// (2: the same, `result` lent); 0: an error after the expression was read, or
// after a call ran, as the ordinary path reports it.
int run(State* st, ExprProgram* p, Cell* result, bool assignAllowed, unsigned uses) {
    const bool valueUnused = uses & EXPR_VALUE_UNUSED;
    const bool asNumber = (uses & EXPR_NUMBER) && p->ops.size() == 1 && !p->assign;
    const bool mayLend = (uses & EXPR_LEND) && p->ops.size() == 1 && !p->assign;
    if ((p->assign && !assignAllowed) || st->delimType != p->firstKind ||
        (p->firstKind == TK_KEYWORD && st->tok != p->firstCode) || ((uses & EXPR_COMPILED_ONLY) && p->hasCall))
        return -1;
    RunGuard guard(p);
    const char* text = p->text.c_str();
    if (p->hasCall && p->assign) {
        // The ordinary path finds the variable when it reads its name, before
        // any call runs; a new one is made there.
        const uint16_t slot = var_lookup_hint(st, text + p->target, p->targetSlot);
        if (slot == SLOT_NONE) return -1;
        p->targetSlot = slot;
    }
    Cell stack[kMaxStack];
    int sp = 0;
    uint32_t lentMask = 0;   // bit i: stack[i] shares a variable's string
    bool called = false;     // a call has run: no way back to the ordinary path
    const size_t detailLen = st->detail ? strlen(st->detail) : 0;
    auto discard = [&]() {
        while (sp > 0) {
            --sp;
            if (lentMask & (1u << sp)) cell_init(&stack[sp], 0);   // the variable keeps its string
            drop(st, &stack[sp]);
        }
        lentMask = 0;
    };
    auto back_out = [&]() {
        discard();
        if (called) {   // the error stands, as the ordinary path raised it
            if (!st->err) st->err = 3054;
            return 0;
        }
        st->err = 0;
        if (st->detail) st->detail[detailLen] = 0;
        return -1;
    };
    for (Op& o : p->ops) {
        Cell* c = &stack[sp];
        switch (o.kind) {
        case P_INT:
            cell_init(c, static_cast<int32_t>(o.v));
            sp++;
            break;
        case P_INT64:
            cell_init(c, 0);
            c->type = TW_INT64;
            c->i64 = o.v;
            sp++;
            break;
        case P_STR:
            cell_init(c, 0);
            if (!cell_set_str(st, c, text + o.a, o.len)) return back_out();
            sp++;
            break;
        case P_CONST:
            if (!constant_value(st, o.a, c)) return back_out();
            sp++;
            break;
        case P_VAR: {
            const int slot = find_var_hint(st, text + o.a, o.slot, 0);
            if (slot < 0) {
                if (!called) return back_out();
                // As the ordinary path reads the name: the variable is made
                // (uninitialised) and reading it reports it.
                discard();
                st->err = 0;
                if (var_create(st, text + o.a, TW_UNINIT) != SLOT_NONE) find_var(st, text + o.a, 1);
                if (!st->err) st->err = 3054;
                return 0;
            }
            o.slot = static_cast<uint16_t>(slot);
            cell_init(c, 0);
            const Cell* v = reinterpret_cast<const Cell*>(st->vars[slot].cell);
            int64_t n;
            bool is64;
            if ((mayLend || o.lend) && v->type == TW_STRING && v->str) {
                // What var_read gives, sharing the string instead of copying it.
                memcpy(c, v, ELEMENT_SIZE);
                c->slot = o.slot;
                c->level = static_cast<int16_t>(st->level);
                lentMask |= 1u << sp;
            } else if (asNumber && v->type == TW_STRING && v->str && text_is_integer(heap_ptr(st, v->str), true, &n, &is64)) {
                // What reading the text and converting it gives, without the copy.
                if (is64) {
                    c->type = TW_INT64;
                    c->i64 = n;
                } else {
                    c->i = static_cast<int32_t>(n);
                }
                c->slot = o.slot;
                c->level = static_cast<int16_t>(st->level);
            } else if (!(v->type & (TW_STRING | TW_UNICODE | TW_ARRAY | TW_VARIANT | TW_COMTEMP))) {
                // A number: what var_read gives, without the copy machinery.
                c->i64 = v->i64;
                c->i = v->i;
                c->type = v->type;
                c->slot = o.slot;
                c->level = static_cast<int16_t>(st->level);
            } else if (!var_read(st, o.slot, c)) {
                return back_out();
            }
            sp++;
            break;
        }
        case P_BIN:
            // apply_binary owns both cells: on failure both are released.
            if (!apply_binary(st, o.a, &stack[sp - 2], &stack[sp - 1])) {
                cell_init(&stack[sp - 2], 0);
                cell_init(&stack[sp - 1], 0);
                sp -= 2;
                return back_out();
            }
            sp--;
            break;
        case P_UN:
            if (!apply_unary(st, o.a, &stack[sp - 1])) {
                cell_init(&stack[sp - 1], 0);
                sp--;
                return back_out();
            }
            break;
        case P_CALL: {
            const int n = static_cast<int>(o.len);
            if (o.id >= UDFSTART) {   // the function read when the line was compiled
                const uint32_t index = o.id - UDFSTART;
                const UdfRecord* u = index < st->udfCount ? udf_record(st, index) : nullptr;
                if (!u || u->params != n) {
                    if (!called) return back_out();
                    discard();
                    st->err = 3046;
                    return 0;
                }
            }
            Cell args[MAX_CALL_ARGS + 1];
            LentArgs lent;
            sp -= n;
            for (int k = 1; k <= n; k++) {
                args[k] = stack[sp + k - 1];
                if (lentMask & (1u << (sp + k - 1))) {
                    lent.mask |= 1u << k;
                    lent.handle[k] = args[k].str;
                }
            }
            lentMask &= (1u << sp) - 1;
            called = true;
            if (!call_invoke(st, text + o.a, o.id, &stack[sp], args, n, false, static_cast<uint64_t>(o.v),
                             lent.mask ? &lent : nullptr)) {
                discard();
                if (!st->err) st->err = 3054;
                return 0;
            }
            sp++;
            break;
        }
        }
    }
    VarRef ref;
    if (p->assign) {
        // The ordinary path found (or created) the variable when it read its
        // name; a call may have dropped it since, and storing makes it again.
        const uint16_t slot = var_lookup_hint(st, text + p->target, p->targetSlot);
        if (slot == SLOT_NONE && !called) return back_out();
        if (slot != SLOT_NONE) p->targetSlot = slot;
        ref.level = st->level;
        ref.slot = slot;
        const size_t n = strnlen(text + p->target, sizeof ref.name - 1);
        memcpy(ref.name, text + p->target, n);
        ref.name[n] = 0;
        ref.nsubs = 0;
        ref.mapKey = false;
    }
    Cell& value = stack[0];   // the program leaves one cell
    const bool lent = lentMask & 1;

    // The token after the expression, read as the ordinary path reads it.
    st->delimType = p->lastKind;
    if (p->lastKind == TK_KEYWORD) st->tok = p->lastCode;
    st->tokSlot = SLOT_NONE;
    st->prog = st->line + p->lastEnd;
    st->tokHint = p->lastIndex + 1;
    if (!get_token(st)) {
        if (lent) cell_init(&value, 0);   // the variable keeps its string
        drop(st, &value);
        if (!st->err) st->err = 3054;
        return 0;
    }
    if (p->assign) {   // as the evaluator's assignment does it
        if (p->base) {
            Cell current;
            if (!ref_fetch(st, &ref, &current)) {
                drop(st, &value);
                return 0;
            }
            if (!apply_binary(st, p->base, &current, &value)) return 0;
            value = current;
        }
        if (valueUnused && !st->traceOn && ref.slot != SLOT_NONE &&
            !(value.type & (TW_ARRAY | TW_VARIANT | TW_COMTEMP))) {
            // Nobody reads the statement's value: its strings go to the
            // variable instead of being copied there and freed here.
            if (!var_assign_move(st, ref.slot, &value)) {
                drop(st, &value);
                return 0;
            }
            cell_init(result, 0);
            return 1;
        }
        if (!ref_store(st, &ref, &value)) {
            drop(st, &value);
            return 0;
        }
    }
    *result = value;
    return lent ? 2 : 1;
}

}  // namespace

int expr_cached(State* st, Cell* result, bool assignAllowed, unsigned uses) {
    auto* e = static_cast<LineEntry*>(st->tokLine);
    const char* start = st->tokStart;
    if (!e || !start || st->err || start < st->line) return -1;
    const uint32_t off = static_cast<uint32_t>(start - st->line);
    if (off >= line_text_length(e) || !line_tokens_current(st, e)) return -1;
    ExprSite* site = line_expr_site(e, off);
    if (!site || site->refused) return -1;
    if (!site->prog) {
        // Compiled on the second run, when the first one recorded every token.
        if (site->runs < 1) {
            if (!(uses & EXPR_COMPILED_ONLY)) site->runs++;
            return -1;
        }
        uint32_t n;
        const CachedToken* toks = line_tokens(e, &n);
        const CachedToken* at = std::lower_bound(toks, toks + n, off,
                                                 [](const CachedToken& t, uint32_t o) { return t.start < o; });
        const bool current = at != toks + n && at->start == off && at->kind == st->delimType &&
                             (at->kind != TK_KEYWORD || at->code == st->tok);
        site->prog = current ? compile(st, e, st->line, static_cast<uint32_t>(at - toks)) : nullptr;
        if (!site->prog) {
            site->refused = true;
            return -1;
        }
    }
    const int r = run(st, site->prog, result, assignAllowed, uses);
    if (r == 0) {
        cell_init(result, 0);
        if (!st->err) st->err = 3054;
    }
    return r;
}
