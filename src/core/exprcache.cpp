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
#include "textscan.h"
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
constexpr int kMaxJoin = 8;     // operands of one P_CAT

enum : uint8_t { P_INT, P_INT64, P_STR, P_CONST, P_VAR, P_BIN, P_UN, P_CALL, P_CAT };

struct Op {
    uint8_t  kind;
    uint8_t  lend;   // P_VAR: a whole operand of a join or argument of a built-in that only
                     // reads it; P_STR: a whole operand of a join (no heap copy)
    uint16_t slot;   // P_VAR: where the name was last found
    uint32_t a;      // P_STR, P_VAR, P_CALL: text offset; P_CONST, P_BIN, P_UN: token code
    uint32_t len;    // P_STR: text length; P_CALL, P_CAT: the number of operands
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
        else if (kind == P_CALL || kind == P_CAT) sp_ += 1 - static_cast<int>(len);
        if (sp_ > kMaxStack) ok_ = false;
    }

    uint32_t add_text(const CachedToken* t) {
        const uint32_t at = static_cast<uint32_t>(p_->text.size());
        p_->text.append(line_token_text(e_, *t));
        p_->text.push_back('\0');
        return at;
    }

    // Binary operators of `level` and above, left to right. A run of ":"
    // becomes one join of all its operands (P_CAT): everything before the
    // run in this loop is one value already, whose operations start at `first`.
    bool expr(int level, int depth) {
        const size_t first = p_->ops.size();
        if (!unary(depth)) return false;
        size_t join[kMaxJoin + 1];   // where each operand of the run starts
        int joined = 0;
        auto flush = [&]() {
            if (joined > 1) {
                join[joined] = p_->ops.size();
                mark_lent(join, joined);
                mark_literals(join, joined);
                emit(P_CAT, 0, 0, SLOT_NONE, static_cast<uint32_t>(joined));
            }
            joined = 0;
            return ok_;
        };
        for (;;) {
            if (!cur_ || cur_->kind != TK_KEYWORD) return flush();
            const int opLevel = op_binary_level(cur_->code);
            if (opLevel < level || opLevel == 0) return flush();
            const uint32_t op = cur_->code;
            if (op == KW_OP_CONCAT) {
                if (joined == kMaxJoin && !flush()) return false;
                if (joined == 0) join[joined++] = first;
                join[joined++] = p_->ops.size();
                if (!advance() || !expr(opLevel + 1, depth + 1)) return false;
                continue;
            }
            if (!flush()) return false;
            if (!advance() || !expr(opLevel + 1, depth + 1)) return false;
            emit(P_BIN, op);
            if (!ok_) return false;
        }
    }

    // Operands whose operations start at starts[0..n-1] (starts[n]: the end)
    // feed an operation that only reads them: a lone variable among them is
    // lent when no call runs between its read and that operation (a call
    // could change it).
    void mark_lent(const size_t* starts, int n) {
        size_t lastCall = 0;
        for (size_t i = starts[0]; i < p_->ops.size(); ++i)
            if (p_->ops[i].kind == P_CALL) lastCall = i + 1;
        for (int k = 0; k < n; ++k) {
            Op& o = p_->ops[starts[k]];
            if (starts[k + 1] - starts[k] == 1 && o.kind == P_VAR && starts[k] >= lastCall) o.lend = 1;
        }
    }

    // A text constant that is a whole operand of a join is read from the
    // program's text, not copied to the heap.
    void mark_literals(const size_t* starts, int n) {
        for (int k = 0; k < n; ++k) {
            Op& o = p_->ops[starts[k]];
            if (starts[k + 1] - starts[k] == 1 && o.kind == P_STR) o.lend = 1;
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
        if (n && builtin_reads_args(t->code)) {
            argStart[n] = p_->ops.size();
            mark_lent(argStart, n);
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

// Counts a run in progress of a program with calls (see ExprProgram::active);
// a program without calls cannot run again before its run ends.
class RunGuard {
public:
    explicit RunGuard(ExprProgram* p) : p_(p->hasCall ? p : nullptr) {
        if (p_) p_->active++;
    }
    ~RunGuard() {
        if (p_ && --p_->active == 0 && p_->orphaned) delete p_;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    ExprProgram* p_;
};

// Whether the user-defined function a call names (when it names one) is
// still the one read when the line was compiled.
bool udf_still(State* st, const Op& o) {
    if (o.id < UDFSTART) return true;
    const uint32_t index = o.id - UDFSTART;
    const UdfRecord* u = index < st->udfCount ? udf_record(st, index) : nullptr;
    return u && u->params == static_cast<int>(o.len);
}

// A call: its arguments are the cells at `at` (bit k of `lent`: at[k] is
// lent); they are released and `at` receives the result. Kept out of the
// runner, whose frame stays small for the programs without calls.
__attribute__((noinline)) bool call_op(State* st, const Op& o, const char* text, Cell* at, uint32_t lent) {
    const int n = static_cast<int>(o.len);
    Cell args[MAX_CALL_ARGS + 1];
    LentArgs lending;
    for (int k = 1; k <= n; k++) {
        args[k] = at[k - 1];
        if (lent & (1u << (k - 1))) {
            lending.mask |= 1u << k;
            lending.handle[k] = args[k].str;
        }
    }
    return call_invoke(st, text + o.a, o.id, at, args, n, false, static_cast<uint64_t>(o.v),
                       lending.mask ? &lending : nullptr);
}

// A text constant pushed for a join: a STRING cell without a handle whose
// text stays in the program (`reserved0`: its address, `i`: its length).
void push_literal(Cell* c, const char* text, uint32_t len) {
    cell_init(c, 0);
    c->type = TW_STRING;
    c->reserved0 = reinterpret_cast<uint64_t>(text);
    c->i = static_cast<int32_t>(len);
}

// A join of n operands into at[0], as the ":" operator makes it from left to
// right (bit k of `lent`: at[k] is lent; of `lit`: at[k] is a text constant
// from push_literal). Plain ANSI texts and integers are joined in one
// allocation; anything else goes pair by pair through the operator. The
// operands are released; false with the error set.
__attribute__((noinline)) bool cat_op(State* st, Cell* at, int n, uint32_t lent, uint32_t lit) {
    struct Piece {
        const char* p;
        size_t len;
    };
    Piece piece[kMaxJoin];
    char digits[kMaxJoin][24];
    bool plain = true;
    size_t total = 0;
    for (int k = 0; k < n && plain; ++k) {
        const Cell& c = at[k];
        if (lit & (1u << k)) {
            piece[k].p = reinterpret_cast<const char*>(c.reserved0);
            piece[k].len = static_cast<uint32_t>(c.i);
            total += piece[k].len;
        } else if (c.type == TW_STRING) {
            piece[k].p = c.str ? heap_ptr(st, c.str) : "";
            piece[k].len = text_len(piece[k].p);
            total += piece[k].len;
        } else if (c.type == TW_INT || c.type == TW_INT64) {
            piece[k].len = static_cast<size_t>(int64_text(c.type == TW_INT ? c.i : c.i64, digits[k]));
            piece[k].p = digits[k];
            total += piece[k].len;
        } else {
            plain = false;
        }
    }
    uint64_t h = 0;
    if (plain) {
        // The heap grows in place: the pieces stay where they are.
        if ((h = VMalloc(st, total + 1)) != 0) {
            char* out = heap_ptr(st, h);
            for (int k = 0; k < n; ++k) {
                text_copy(out, piece[k].p, piece[k].len);
                out += piece[k].len;
            }
            *out = 0;
        } else {
            st->err = 3096;
        }
    } else {
        // The operator releases its operands: lent ones and constants get
        // copies first.
        for (int k = 0; k < n; ++k) {
            if (lit & (1u << k)) {
                const char* text = reinterpret_cast<const char*>(at[k].reserved0);
                const uint32_t len = static_cast<uint32_t>(at[k].i);
                cell_init(&at[k], 0);
                if (!cell_set_str(st, &at[k], text, len)) break;
                lit &= ~(1u << k);
                continue;
            }
            if (!(lent & (1u << k))) continue;
            if (!own_text(st, &at[k])) break;
            lent &= ~(1u << k);
        }
        if (!st->err) {
            int k = 1;
            while (k < n && apply_binary(st, KW_OP_CONCAT, &at[0], &at[k])) ++k;
            if (k == n) return true;
            // apply_binary released at[0] and at[k].
            for (int j = k + 1; j < n; ++j) drop(st, &at[j]);
            if (!st->err) st->err = 3056;
            return false;
        }
    }
    for (int k = 0; k < n; ++k) {
        if ((lent | lit) & (1u << k)) cell_init(&at[k], 0);   // the variable or program keeps its text
        drop(st, &at[k]);
    }
    if (!h) return false;
    at[0].type = TW_STRING;
    at[0].str = h;
    return true;
}

// Whether an assigned value may be moved into its variable: arrays,
// automation values and object temporaries are always copied.
inline bool movable(const Cell& v) { return !(v.type & (TW_ARRAY | TW_VARIANT | TW_COMTEMP)); }

// The assignment of a program's value to its variable (slot `target`, or
// none when a call dropped it), as the evaluator's assignment does it: a
// compound operator applied to the current value first. `value` is used up;
// 1 with `result` set (INT 0 when the value was moved), or 0 with the error.
__attribute__((noinline)) int assign(State* st, const ExprProgram* p, const char* text, uint16_t target, Cell* value,
                                     Cell* result, bool valueUnused) {
    VarRef ref;
    ref.level = st->level;
    ref.slot = target;
    const size_t n = strnlen(text + p->target, sizeof ref.name - 1);
    memcpy(ref.name, text + p->target, n);
    ref.name[n] = 0;
    ref.nsubs = 0;
    ref.mapKey = false;
    if (p->base) {
        Cell current;
        if (!ref_fetch(st, &ref, &current)) {
            drop(st, value);
            return 0;
        }
        if (!apply_binary(st, p->base, &current, value)) return 0;
        *value = current;
    }
    if (valueUnused && !st->traceOn && target != SLOT_NONE && movable(*value)) {
        if (!var_assign_move(st, target, value)) {
            drop(st, value);
            return 0;
        }
        cell_init(result, 0);
        return 1;
    }
    if (!ref_store(st, &ref, value)) {
        drop(st, value);
        return 0;
    }
    *result = *value;
    return 1;
}

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
    uint32_t litMask = 0;    // bit i: stack[i] is a text constant for a join (push_literal)
    bool called = false;     // a call has run: no way back to the ordinary path
    const size_t detailLen = st->detail ? strlen(st->detail) : 0;
    auto discard = [&]() {
        while (sp > 0) {
            --sp;
            if ((lentMask | litMask) & (1u << sp)) cell_init(&stack[sp], 0);   // the variable keeps its string
            drop(st, &stack[sp]);
        }
        lentMask = litMask = 0;
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
            if (o.lend) {
                push_literal(c, text + o.a, o.len);
                litMask |= 1u << sp;
            } else {
                cell_init(c, 0);
                if (!cell_set_str(st, c, text + o.a, o.len)) return back_out();
            }
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
            if (!apply_binary_quick(o.a, &stack[sp - 2], &stack[sp - 1]) &&
                !apply_binary(st, o.a, &stack[sp - 2], &stack[sp - 1])) {
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
        case P_CAT: {
            const int n = static_cast<int>(o.len);
            sp -= n;
            const uint32_t lentOps = (lentMask >> sp) & ((1u << n) - 1);
            const uint32_t litOps = (litMask >> sp) & ((1u << n) - 1);
            lentMask &= (1u << sp) - 1;
            litMask &= (1u << sp) - 1;
            if (!cat_op(st, &stack[sp], n, lentOps, litOps)) return back_out();
            sp++;
            break;
        }
        case P_CALL: {
            const int n = static_cast<int>(o.len);
            if (!udf_still(st, o)) {
                if (!called) return back_out();
                discard();
                st->err = 3046;
                return 0;
            }
            sp -= n;
            const uint32_t lentArgs = (lentMask >> sp) & ((1u << n) - 1);
            lentMask &= (1u << sp) - 1;
            called = true;
            if (!call_op(st, o, text, &stack[sp], lentArgs)) {
                discard();
                if (!st->err) st->err = 3054;
                return 0;
            }
            sp++;
            break;
        }
        }
    }
    uint16_t target = SLOT_NONE;
    if (p->assign) {
        // The ordinary path found (or created) the variable when it read its
        // name; a call may have dropped it since, and storing makes it again.
        target = var_lookup_hint(st, text + p->target, p->targetSlot);
        if (target == SLOT_NONE && !called) return back_out();
        if (target != SLOT_NONE) p->targetSlot = target;
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
    if (!p->assign) {
        *result = value;
        return lent ? 2 : 1;
    }
    if (!p->base && valueUnused && !st->traceOn && target != SLOT_NONE && movable(value)) {
        // Nobody reads the statement's value: its strings go to the variable
        // instead of being copied there and freed here.
        if (!var_assign_move(st, target, &value)) {
            drop(st, &value);
            return 0;
        }
        cell_init(result, 0);
        return 1;
    }
    return assign(st, p, text, target, &value, result, valueUnused);
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
