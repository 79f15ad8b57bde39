// ProcessSubExpression: the recursive-descent evaluator.
//
// Precedence, loosest first:
//    1  =  +=  -=  *=  /=  :=  <<=  >>=  &=  |=  ^=  mod=   (only after a leading variable)
//    2  &&  ||
//    3  &  |  ^
//    4  ==  !=  <>  <  <=  >  >=
//    5  :
//    6  <<  >>
//    7  +  -
//    8  *  /  mod
//    9  **
//   10  unary  !  -  +  ~  &  *
//   11  operands
// Levels 2 to 9 are one routine driven by a table; every binary level is
// left-associative. Each operator is applied as soon as its right operand is
// read and the right temporary is released at once.
//
// Level 1 needs to look one token past a leading variable (or past its
// subscripts) to know whether the statement is an assignment. When it is not,
// the value already read becomes the "pending" first operand, so nothing is
// evaluated twice and no multi-token putback is needed.
#include "eval.h"
#include "value.h"
#include "tokenizer.h"
#include "keywords.h"
#include "dispatch.h"
#include "errors.h"
#include "exec.h"
#include "exprcache.h"
#include <cstdio>
#include <cstring>

ObjectRefHandler g_objectRef = nullptr;

namespace {

constexpr int MAX_ARGS = MAX_CALL_ARGS;
constexpr const char* kMoreParams =
    "Function may need more parameters, or a period was used when a comma was expected";

// ---- operator tables -------------------------------------------------------

struct BinaryOp {
    uint32_t tok;
    uint8_t level;
};
constexpr BinaryOp kBinaryOps[] = {
    {KW_OP_ANDAND, 2}, {KW_OP_OROR, 2},
    {KW_OP_AMP, 3},    {KW_OP_OR, 3},    {KW_OP_XOR, 3},
    {KW_OP_EQ, 4},     {KW_OP_NE, 4},    {KW_OP_NE2, 4}, {KW_OP_LT, 4}, {KW_OP_LE, 4}, {KW_OP_GT, 4}, {KW_OP_GE, 4},
    {KW_OP_CONCAT, 5},
    {KW_OP_SHL, 6},    {KW_OP_SHR, 6},
    {KW_OP_PLUS, 7},   {KW_OP_MINUS, 7},
    {KW_OP_STAR, 8},   {KW_OP_DIV, 8},   {KW_MOD, 8},
    {KW_OP_POWER, 9},
};

// Assignment operators and the binary operator each compound form applies.
struct AssignOp {
    uint32_t tok;
    uint32_t base;   // 0 for plain "="
};
constexpr AssignOp kAssignOps[] = {
    {KW_OP_ASSIGN, 0},
    {KW_OP_ADD_ASSIGN, KW_OP_PLUS},   {KW_OP_SUB_ASSIGN, KW_OP_MINUS}, {KW_OP_MUL_ASSIGN, KW_OP_STAR},
    {KW_OP_DIV_ASSIGN, KW_OP_DIV},    {KW_MOD_ASSIGN, KW_MOD},         {KW_OP_CONCAT_ASSIGN, KW_OP_CONCAT},
    {KW_OP_SHL_ASSIGN, KW_OP_SHL},    {KW_OP_SHR_ASSIGN, KW_OP_SHR},   {KW_OP_AND_ASSIGN, KW_OP_AMP},
    {KW_OP_OR_ASSIGN, KW_OP_OR},      {KW_OP_XOR_ASSIGN, KW_OP_XOR},
};

// Token code -> binary level (0 none), and -> assignment slot (index + 1, 0 none).
struct OpIndex {
    static constexpr uint32_t N = 1024;
    uint8_t level[N] = {};
    uint8_t assign[N] = {};
    constexpr OpIndex() {
        for (const BinaryOp& b : kBinaryOps) level[b.tok] = b.level;
        for (size_t i = 0; i < sizeof kAssignOps / sizeof kAssignOps[0]; i++)
            assign[kAssignOps[i].tok] = static_cast<uint8_t>(i + 1);
    }
};
constexpr OpIndex kOps;

inline bool is_kw(const State* st, uint32_t code) { return st->delimType == TK_KEYWORD && st->tok == code; }

inline int binary_level(const State* st) {
    return st->delimType == TK_KEYWORD && st->tok < OpIndex::N ? kOps.level[st->tok] : 0;
}

// The assignment operator that is current, or nullptr.
inline const AssignOp* assign_op(const State* st) {
    if (st->delimType != TK_KEYWORD || st->tok >= OpIndex::N || !kOps.assign[st->tok]) return nullptr;
    return &kAssignOps[kOps.assign[st->tok] - 1];
}

// @ constants whose record value is the floating-point sentinel 0xF0F0F000 + n.
constexpr double kFloatConsts[20] = {
    3.141592653589793, 2.718281828459045, 0.017453292519943, 57.29577951308232, 6.6256e-34,
    6.6252e-27,        32.174,            9.80665,           1.66043e-27,       6.02252e+23,
    1.38054e-23,       8.8541853e-12,     0.5772156649015339, 96487.0,          1.618033988749895,
    6.67e-11,          299792500.0,       1.256637,          206.265,           186272.0,
};
// ... and the string sentinel 0xFFF0F000 + n.
constexpr const char* kStringConsts[4] = {"\r\n", "\t", "\r", "\n"};

// ---- small helpers ---------------------------------------------------------

inline void drop(State* st, Cell* c) {
    cell_release(st, c, CM_VARBOUND);
    cell_init(c, 0);
}

inline bool fail(State* st, uint16_t err) {
    if (!st->err) st->err = err;
    return false;
}

bool fail_detail(State* st, uint16_t err, const char* detail) {
    st->err = err;
    err_detail(st, detail);
    return false;
}

// Reads the next token; on failure releases `c` (when given).
inline bool next(State* st, Cell* c = nullptr) {
    if (get_token(st)) return true;
    if (!st->err) st->err = 3054;
    if (c) drop(st, c);
    return false;
}

// Deep nesting (thousands of parentheses or unary operators on one line) must
// end in an error, not in a stack overflow: the remaining stack of the thread
// is checked on every nested level.
bool stack_room(State* st) {
    // The lowest address of the thread's stack reservation is kept in the
    // thread's own information block (DeallocationStack, offset 0x1478 on
    // x64): one read of the thread block, no library call on this hot path.
    const ULONG_PTR low = __readgsqword(0x1478);
    char probe;
    if (low && reinterpret_cast<ULONG_PTR>(&probe) > low &&
        reinterpret_cast<ULONG_PTR>(&probe) - low < 96 * 1024)
        return fail(st, 3353);
    return true;
}

// An operand was expected but the current token cannot start one.
bool unexpected(State* st) {
    if (st->delimType == TK_EOL) return fail(st, 3071);
    if (is_kw(st, KW_OP_RPAREN)) return fail(st, 3065);
    if (is_kw(st, KW_OP_COMMA)) return fail(st, 3068);
    if (assign_op(st)) return fail_detail(st, 3069, "To compare two values, use == instead");
    return fail(st, 3054);
}

// ---- the parser ------------------------------------------------------------

struct Parser {
    explicit Parser(State* s) : st(s) {}
    State* st;
    Cell pending;            // first operand already read by the assignment look-ahead
    bool hasPending = false;
};

bool level_expr(Parser& p, int level, Cell* out);
bool unary_level(Parser& p, Cell* out);

// Levels `level`..9 by precedence climbing: a unary operand, then as long as
// an operator of this level or a tighter one follows, its right operand
// (binding one level tighter, so every level associates to the left) and the
// operation. This computes exactly what one routine per level would, in the
// same order, without descending through every level for each operand.
bool level_expr(Parser& p, int level, Cell* out) {
    State* st = p.st;
    if (!unary_level(p, out)) return false;
    for (;;) {
        const int opLevel = binary_level(st);
        if (opLevel < level || opLevel == 0) return true;
        const uint32_t op = st->tok;
        if (!next(st, out)) return false;
        Cell right;
        if (!level_expr(p, opLevel + 1, &right)) {
            drop(st, out);
            return false;
        }
        if (!apply_binary_quick(op, out, &right) && !apply_binary(st, op, out, &right)) return false;
    }
}

// ---- operands --------------------------------------------------------------

bool constant_operand(State* st, Cell* out) { return constant_value(st, st->tok, out) && next(st, out); }

bool variable_operand(State* st, Cell* out) {
    const int slot = find_var_hint(st, st->token, st->tokSlot, 1);
    if (slot < 0 || !var_read(st, static_cast<uint16_t>(slot), out)) return false;
    return next(st, out) && subscript_value(st, out);
}

bool paren_operand(State* st, Cell* out) {
    if (!next(st)) return false;
    if (!ProcessSubExpression(st, out, 0, 0, 0)) return false;
    if (!is_kw(st, KW_OP_RPAREN)) {
        drop(st, out);
        return fail(st, 3065);
    }
    return next(st, out);
}

int process_expression(State* st, Cell* result, int assignAllowed, int ptrMode, unsigned uses);

// Argument k of a call that may borrow (see LentArgs).
int lending_argument(State* st, Cell* args, int k, LentArgs* lent) {
    int r = -1;
    if (lent->mask) r = process_expression(st, &args[k], 0, 0, EXPR_LEND | EXPR_COMPILED_ONLY);
    if (r < 0) {
        if (!unlend_all(st, args, lent)) return 0;
        r = process_expression(st, &args[k], 0, 0, EXPR_LEND);
    }
    if (r == 2) {
        lent->mask |= 1u << k;
        lent->handle[k] = args[k].str;
    }
    return r;
}

// Reads the argument list after "(" (current) up to ")" which stays current.
// `req` arguments are required, at most `max` allowed. With `lent`, lone
// variables may be lent (see LentArgs).
bool parse_args(State* st, Cell* args, int req, int max, int* n, LentArgs* lent = nullptr) {
    *n = 0;
    if (!next(st)) return false;
    if (is_kw(st, KW_OP_RPAREN) && req == 0) return true;
    if (max == 0 || is_kw(st, KW_OP_RPAREN)) {
        st->err = 3066;
        err_detailf(st, 9504);
        return false;
    }
    for (int k = 1;; k++) {
        if (lent ? !lending_argument(st, args, k, lent) : !ProcessSubExpression(st, &args[k], 0, 0, 0))
            return false;
        *n = k;
        const bool close = is_kw(st, KW_OP_RPAREN);
        if (close && k >= req) return true;
        if (k == max) {
            st->err = 3066;
            err_detailf(st, 9504);
            return false;
        }
        if (!is_kw(st, KW_OP_COMMA))
            return fail_detail(st, 3068, kMoreParams);
        if (!next(st)) return false;
    }
}

// Calls the dispatcher with ")" current, then reads the token after ")".
bool call_dispatch(State* st, const char* name, uint32_t id, Cell* out, Cell* args, int n, bool noConvert,
                   uint64_t types, LentArgs* lent = nullptr) {
    return call_invoke(st, name, id, out, args, n, noConvert, types, lent) && next(st, out);
}

// The name as written, for messages and for the dispatcher.
void token_name(const State* st, char* out, size_t size) {
    const size_t n = strnlen(st->token, size - 1);
    memcpy(out, st->token, n);
    out[n] = 0;
}

bool open_paren(State* st, const char* name) {
    if (!next(st)) return false;
    if (is_kw(st, KW_OP_LPAREN)) return true;
    char detail[200];
    snprintf(detail, sizeof detail, "%s not followed by open parenthesis", name);
    return fail_detail(st, 3067, detail);
}

// A built-in, host, extender or user-defined function call.
bool function_call(State* st, Cell* out) {
    const uint32_t id = st->tok;
    char name[128];
    token_name(st, name, sizeof name);
    int req, opt;
    uint64_t types;
    SelfParsingFn ownParser;
    if (const int e = call_signature(st, id, &req, &opt, &types, &ownParser)) return fail(st, static_cast<uint16_t>(e));
    if (!open_paren(st, name)) return false;
    if (ownParser) {   // reads its own list and leaves ")" current
        cell_init(out, 0);
        if (!ownParser(st, out)) {
            drop(st, out);
            return fail(st, 3054);
        }
        return next(st, out);
    }
    Cell args[MAX_ARGS + 1];
    int n;
    LentArgs lent;
    LentArgs* lending = builtin_reads_args(id) ? &lent : nullptr;
    if (!parse_args(st, args, req, req + opt, &n, lending)) {
        release_args(st, args, n, lending);
        return false;
    }
    return call_dispatch(st, name, id, out, args, n, false, types, lending);
}

// Functions whose arguments are variable names (Drop, IsDefined, VarType,
// ObjectTypeGet, PtrGlobal..., PtrPersistent, ?makepointer). The dispatcher
// gets each name as a STRING cell (see dispatch.h): the first argument is always
// a name; for Drop every argument is; for the others later arguments are values.
bool name_function_call(State* st, Cell* out) {
    const uint32_t id = st->tok;
    char name[128];
    token_name(st, name, sizeof name);
    const bool starAllowed = id == KW_DROP || id == KW_ISDEFINED || id == KW_VARTYPE || id == KW_OBJECTTYPEGET;
    if (!open_paren(st, name)) return false;
    Cell args[MAX_ARGS + 1];
    int n = 0;
    auto bail = [&]() {
        st->makePointer = st->ptrPersistent = st->ptrPrefix = 0;
        release_args(st, args, n);
        return false;
    };
    for (;;) {
        const bool isName = n == 0 || id == KW_DROP;
        if (n == MAX_ARGS) {
            st->err = 3066;
            err_detailf(st, 9504);
            return bail();
        }
        if (isName) {
            // The tokenizer reads the name with the flags of this function set.
            st->makePointer = id == KW_Q_MAKEPOINTER || id == KW_PTRGLOBALDEFINE;
            st->ptrPersistent = id == KW_PTRPERSISTENT;
            if (!next(st)) return bail();
            bool star = false;
            if (starAllowed && is_kw(st, KW_OP_STAR)) {
                star = true;
                st->ptrPrefix = 1;
                if (!next(st)) return bail();
            }
            st->makePointer = st->ptrPersistent = st->ptrPrefix = 0;
            if (n == 0 && !star && is_kw(st, KW_OP_RPAREN)) break;   // an empty list: the function decides
            if (st->delimType != TK_VARIABLE) {
                fail_detail(st, 3068, "A variable name was expected");
                return bail();
            }
            char text[VARNAMESIZE + 3];
            snprintf(text, sizeof text, "%s%s", star ? "*" : "", st->token);
            cell_init(&args[n + 1], 0);
            if (!cell_set_str(st, &args[n + 1], text, strlen(text))) return bail();
            n++;
            if (!next(st)) return bail();
        } else {
            if (!next(st)) return bail();
            if (!ProcessSubExpression(st, &args[n + 1], 0, 0, 0)) return bail();
            n++;
        }
        if (is_kw(st, KW_OP_RPAREN)) break;
        if (!is_kw(st, KW_OP_COMMA)) {
            fail_detail(st, 3068, kMoreParams);
            return bail();
        }
    }
    return call_dispatch(st, name, id, out, args, n, true, 0);
}

bool object_operand(State* st, Cell* out, int assignAllowed) {
    if (g_objectRef) return g_objectRef(st, out, assignAllowed) != 0;
    return fail_detail(st, 3046, "COM automation is not available yet");
}

bool keyword_operand(State* st, Cell* out) {
    const uint32_t id = st->tok;
    if (id < NKEYTOKENS) {
        switch (g_keywords[id].cls) {
        case KC_CONSTANT:
            return constant_operand(st, out);
        case KC_FUNCTION:
            return id == KW_Q_OLEOBJECT ? object_operand(st, out, 0) : function_call(st, out);
        case KC_VARNAME:
            return name_function_call(st, out);
        default:
            if (id == KW_OP_LPAREN) return paren_operand(st, out);
            return unexpected(st);
        }
    }
    if ((id >= PARENTSTART && id < PARENTSTART + 999) || (id >= UDFSTART && id < UDFSTART + 999) ||
        (id >= ADDONSTART && id <= ADDONSTART + 750))
        return function_call(st, out);
    return unexpected(st);
}

bool operand(Parser& p, Cell* out) {
    State* st = p.st;
    if (p.hasPending) {
        *out = p.pending;
        p.hasPending = false;
        return true;
    }
    cell_init(out, 0);
    switch (st->delimType) {
    case TK_INTEGER: {
        int64_t v;
        bool is64;
        if (!text_is_integer(st->token, true, &v, &is64)) return fail(st, 3054);
        if (is64) {
            out->type = TW_INT64;
            out->i64 = v;
        } else {
            out->i = static_cast<int32_t>(v);
        }
        return next(st, out);
    }
    case TK_FLOAT: {
        double v;
        if (!text_is_float(st, st->token, &v)) return fail(st, 3054);
        out->type = TW_FLOAT;
        out->f = v;
        return next(st, out);
    }
    case TK_STRING:
        return cell_set_str(st, out, st->token, strlen(st->token)) && next(st, out);
    case TK_MULTILINE:
        if (!read_multiline(st, out)) {
            drop(st, out);
            return fail(st, 3059);
        }
        return next(st, out);
    case TK_VARIABLE:
        return variable_operand(st, out);
    case TK_KEYWORD:
        return keyword_operand(st, out);
    default:
        return unexpected(st);
    }
}

// Level 10: unary operators, then the operand.
bool unary_level(Parser& p, Cell* out) {
    State* st = p.st;
    if (p.hasPending || st->delimType != TK_KEYWORD) return operand(p, out);
    const uint32_t op = st->tok;
    switch (op) {
    case KW_OP_NOT:
    case KW_OP_MINUS:
    case KW_OP_PLUS:
    case KW_OP_TILDE:
        if (!stack_room(st) || !next(st)) return false;
        if (!unary_level(p, out)) return false;
        return apply_unary(st, op, out);
    case KW_OP_AMP:   // the variable pointer of the variable that follows
        if (!next(st)) return false;
        if (st->delimType != TK_VARIABLE) return fail(st, 3818);
        cell_init(out, 0);
        return make_pointer(st, st->token, out) && next(st, out);
    case KW_OP_STAR: {   // dereference: the value of the variable a pointer text names
        if (!stack_room(st) || !next(st)) return false;
        Cell ptr;
        if (!unary_level(p, &ptr)) return false;
        VarRef ref;
        bool ok = ref_from_pointer(st, &ptr, &ref);
        drop(st, &ptr);
        if (!ok) {
            cell_init(out, 0);
            return false;
        }
        return ref_fetch(st, &ref, out) && subscript_value(st, out);
    }
    default:
        return operand(p, out);
    }
}

// ---- level 1: assignment ---------------------------------------------------

// The assignment operator is current; `target` names what receives the value.
bool assignment(Parser& p, const VarRef& target, Cell* result) {
    State* st = p.st;
    const uint32_t base = assign_op(st)->base;
    if (!next(st)) return false;
    Cell value;
    if (!level_expr(p, 2, &value)) return false;
    if (base) {
        Cell current;
        if (!ref_fetch(st, &target, &current)) {
            drop(st, &value);
            return false;
        }
        if (!apply_binary(st, base, &current, &value)) return false;
        value = current;
    }
    if (!ref_store(st, &target, &value)) {   // the target keeps its old value
        drop(st, &value);
        return false;
    }
    *result = value;
    return true;
}

bool assignment_refused(State* st) {
    return fail_detail(st, 3069, "To compare two values, use == instead");
}

// Looks at the start of the expression. Performs an assignment (*assigned set,
// value in result) or leaves the first operand pending in the parser.
bool head(Parser& p, Cell* result, bool assignAllowed, bool ptrMode, bool* assigned) {
    State* st = p.st;
    *assigned = false;
    VarRef ref;
    ref.nsubs = 0;
    ref.mapKey = false;
    auto assign = [&]() {
        if (!assignAllowed) return assignment_refused(st);
        *assigned = true;
        return assignment(p, ref, result);
    };
    Cell value;   // the variable's value, read by the look-ahead

    if (ptrMode) {
        // "*name ...": name holds the pointer; the target is what it points to.
        if (st->delimType != TK_VARIABLE) return fail(st, 3813);
        const int slot = find_var(st, st->token, 1);
        if (slot < 0 || !var_read(st, static_cast<uint16_t>(slot), &value)) return false;
        const bool ok = ref_from_pointer(st, &value, &ref);
        drop(st, &value);
        if (!ok || !next(st)) return false;
        if (assign_op(st)) return assign();
        if (!ref_fetch(st, &ref, &value)) return false;
    } else if (st->delimType == TK_VARIABLE) {
        ref.level = st->level;
        ref.slot = st->tokSlot;
        const size_t n = strnlen(st->token, sizeof ref.name - 1);   // as "%s" into the field, without printf
        memcpy(ref.name, st->token, n);
        ref.name[n] = 0;
        if (!next(st)) return false;
        if (assign_op(st)) return assign();
        const int slot = find_var_hint(st, ref.name, ref.slot, 1);
        if (slot < 0 || !var_read(st, static_cast<uint16_t>(slot), &value)) return false;
    } else if (is_kw(st, KW_Q_OLEOBJECT)) {
        cell_init(&p.pending, 0);
        if (!object_operand(st, &p.pending, assignAllowed)) return false;
        p.hasPending = true;
        return true;
    } else {
        return true;   // no look-ahead needed
    }

    if (is_kw(st, KW_OP_LBRACKET) && (value.type & TW_ARRAY) && value.arr) {
        // `value` keeps the array referenced while the subscripts are evaluated.
        const bool ok = parse_subscripts(st, value.arr, &ref);
        drop(st, &value);
        if (!ok) return false;
        if (assign_op(st)) return assign();
        if (!ref_fetch(st, &ref, &value)) return false;
    }
    p.pending = value;
    p.hasPending = true;
    return true;
}

}  // namespace

int op_binary_level(uint32_t tok) { return tok < OpIndex::N ? kOps.level[tok] : 0; }

bool op_assignment(uint32_t tok, uint32_t* base) {
    if (tok >= OpIndex::N || !kOps.assign[tok]) return false;
    *base = kAssignOps[kOps.assign[tok] - 1].base;
    return true;
}

bool constant_value(State* st, uint32_t id, Cell* out) {
    const uint32_t v = g_keywords[id].value;
    cell_init(out, 0);
    if ((v & 0xFFFFFF00u) == FLOATCONST) {
        const uint32_t n = v & 0x1F;
        out->type = TW_FLOAT;
        out->f = n < 20 ? kFloatConsts[n] : 0.0;
    } else if ((v & 0xFFFFFF00u) == STRINGCONST) {
        const uint32_t n = v & 0xFF;
        const char* s = n < 4 ? kStringConsts[n] : "";
        if (!cell_set_str(st, out, s, strlen(s))) return false;
    } else {
        out->i = static_cast<int32_t>(v);
    }
    return true;
}

namespace {

// 0: failed; 1: done; 2: done, `result` lent (EXPR_LEND); -1: no compiled
// form (EXPR_COMPILED_ONLY), nothing read.
int process_expression(State* st, Cell* result, int assignAllowed, int ptrMode, unsigned uses) {
    cell_init(result, 0);
    if (!stack_room(st)) return 0;
    if (!ptrMode && st->tokLine) {
        // An expression met before on a cached line runs from its compiled form.
        const int done = expr_cached(st, result, assignAllowed != 0, uses);
        if (done >= 0) return done;
    }
    if (uses & EXPR_COMPILED_ONLY) return -1;
    Parser p(st);
    bool assigned;
    bool ok = head(p, result, assignAllowed != 0, ptrMode != 0, &assigned);
    if (ok && !assigned) ok = level_expr(p, 2, result);
    if (p.hasPending) drop(st, &p.pending);   // only left over on failure
    if (ok && assign_op(st)) {
        drop(st, result);
        return assignment_refused(st);
    }
    if (!ok) {
        drop(st, result);
        if (!st->err) st->err = 3054;
        return 0;
    }
    return 1;
}

}  // namespace

extern "C" int ProcessSubExpression(State* st, Cell* result, int assignAllowed, int ptrMode, int extra) {
    (void)extra;
    return process_expression(st, result, assignAllowed, ptrMode, 0);
}

int statement_expression(State* st, Cell* result, int ptrMode) {
    return process_expression(st, result, 1, ptrMode, EXPR_VALUE_UNUSED);
}

int number_expression(State* st, Cell* result) { return process_expression(st, result, 0, 0, EXPR_NUMBER); }
