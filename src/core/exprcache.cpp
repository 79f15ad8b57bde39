// Compiled expressions (see exprcache.h for what qualifies and why no script
// can tell). The compiler walks the cached tokens of the line with the
// evaluator's own precedence rules and emits postfix operations; the runner
// computes them on a small stack of cells.
#include "exprcache.h"
#include "eval.h"
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

enum : uint8_t { P_INT, P_INT64, P_STR, P_CONST, P_VAR, P_BIN, P_UN };

struct Op {
    uint8_t  kind;
    uint16_t slot;   // P_VAR: where the name was last found
    uint32_t a;      // P_STR, P_VAR: text offset; P_CONST, P_BIN, P_UN: token code
    uint32_t len;    // P_STR: text length
    int64_t  v;      // P_INT, P_INT64
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
};

void expr_program_free(ExprProgram* p) { delete p; }

namespace {

inline bool is_keyword(const CachedToken* t, uint32_t code) { return t && t->kind == TK_KEYWORD && t->code == code; }

// Builds the program from the tokens of one line. Any token outside the
// compiled subset, or a stretch of the line with no recorded token, ends the
// attempt (ok = false).
class Compiler {
public:
    Compiler(const LineEntry* e, const char* line, ExprProgram* p) : e_(e), line_(line), p_(p) {
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

    void emit(uint8_t kind, uint32_t a, int64_t v = 0, uint16_t slot = SLOT_NONE, uint32_t len = 0) {
        p_->ops.push_back(Op{kind, slot, a, len, v});
        if (kind <= P_VAR) sp_++;
        else if (kind == P_BIN) sp_--;
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
            return ok_ = false;
        default:   // floating-point literals, multi-line strings
            return ok_ = false;
        }
    }

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
ExprProgram* compile(const LineEntry* e, const char* line, uint32_t first) {
    auto* p = new (std::nothrow) ExprProgram;
    if (!p) return nullptr;
    bool ok = false;
    try {
        ok = Compiler(e, line, p).run(first);
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

// Runs the program. -1: it stopped before any effect (the state is as it was
// on entry); 1: done, `result` set, the token after the expression current;
// 0: an error after the expression was read, as the ordinary path reports it.
int run(State* st, ExprProgram* p, Cell* result, bool assignAllowed, unsigned uses) {
    const bool valueUnused = uses & EXPR_VALUE_UNUSED;
    const bool asNumber = (uses & EXPR_NUMBER) && p->ops.size() == 1 && !p->assign;
    const bool mayLend = (uses & EXPR_LEND) && p->ops.size() == 1 && !p->assign;
    bool lent = false;
    if ((p->assign && !assignAllowed) || st->delimType != p->firstKind ||
        (p->firstKind == TK_KEYWORD && st->tok != p->firstCode))
        return -1;
    Cell stack[kMaxStack];
    int sp = 0;
    const size_t detailLen = st->detail ? strlen(st->detail) : 0;
    auto back_out = [&]() {
        while (sp > 0) drop(st, &stack[--sp]);
        st->err = 0;
        if (st->detail) st->detail[detailLen] = 0;
        return -1;
    };
    const char* text = p->text.c_str();
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
            if (slot < 0) return back_out();
            o.slot = static_cast<uint16_t>(slot);
            cell_init(c, 0);
            const Cell* v = reinterpret_cast<const Cell*>(st->vars[slot].cell);
            int64_t n;
            bool is64;
            if (mayLend && v->type == TW_STRING && v->str) {
                // What var_read gives, sharing the string instead of copying it.
                memcpy(c, v, ELEMENT_SIZE);
                c->slot = o.slot;
                c->level = static_cast<int16_t>(st->level);
                lent = true;
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
        }
    }
    VarRef ref;
    if (p->assign) {
        // The ordinary path found (or created) the variable when it read its name.
        const uint16_t slot = var_lookup_hint(st, text + p->target, p->targetSlot);
        if (slot == SLOT_NONE) return back_out();
        p->targetSlot = slot;
        ref.level = st->level;
        ref.slot = slot;
        const size_t n = strnlen(text + p->target, sizeof ref.name - 1);
        memcpy(ref.name, text + p->target, n);
        ref.name[n] = 0;
        ref.nsubs = 0;
        ref.mapKey = false;
    }
    Cell& value = stack[0];   // the program leaves one cell

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
        if (valueUnused && !st->traceOn && !(value.type & (TW_ARRAY | TW_VARIANT | TW_COMTEMP))) {
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
        site->prog = current ? compile(e, st->line, static_cast<uint32_t>(at - toks)) : nullptr;
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
