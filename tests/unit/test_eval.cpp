// The expression evaluator on a real state: precedence, integer and float
// arithmetic, string promotion, comparisons, assignment, arrays, pointers,
// constants, function-call syntax errors, and that temporaries are released.
#include "fixture.h"
#include "eval.h"
#include "errors.h"
#include "tokenizer.h"
#include <climits>
#include <cmath>
#include <string>

namespace {

// Evaluates one line the way the statement executor does: the first token is
// read, then ProcessSubExpression runs from it. Returns its result.
int eval_text(State* st, const char* expr, Cell* out, int assignAllowed = 1, int ptrMode = 0) {
    strncpy(st->line, expr, LINE_BUF - 1);
    st->line[LINE_BUF - 1] = 0;
    st->prog = st->line;
    st->err = 0;
    cell_init(out, 0);
    if (!get_token(st)) return 0;
    return ProcessSubExpression(st, out, assignAllowed, ptrMode, 0);
}

class Eval : public StateFixture {
protected:
    void TearDown() override {
        err_detail_free(st);
        StateFixture::TearDown();
    }
    // Bytes of the string heap in use (walks the blocks up to the end marker).
    uint64_t UsedBytes() const {
        uint64_t used = 0;
        for (uint64_t off = 80; off < st->heapEnd;) {
            uint64_t size;
            memcpy(&size, st->heapBase + off + 8, 8);
            if (memcmp(st->heapBase + off, "5678", 4) == 0) used += size;
            if (size == 0) break;
            off += size;
        }
        return used;
    }
    // Evaluates a line that must succeed and end there.
    Cell Ok(const char* expr) {
        Cell c;
        EXPECT_EQ(eval_text(st, expr, &c), 1) << expr << " failed with " << st->err;
        EXPECT_EQ(st->delimType, TK_EOL) << expr << " left a token: " << st->token;
        return c;
    }
    // Evaluates a line that must fail; returns the error number.
    int Err(const char* expr, int assignAllowed = 1) {
        Cell c;
        EXPECT_EQ(eval_text(st, expr, &c, assignAllowed), 0) << expr << " did not fail";
        EXPECT_EQ(c.type, TW_INT) << expr << ": a failed result holds nothing";
        int e = st->err;
        st->err = 0;
        return e;
    }
    int32_t Int(const char* expr) {
        Cell c = Ok(expr);
        EXPECT_EQ(c.type, TW_INT) << expr;
        return c.i;
    }
    int64_t Int64(const char* expr) {
        Cell c = Ok(expr);
        EXPECT_EQ(c.type, TW_INT64) << expr;
        return c.i64;
    }
    double Float(const char* expr) {
        Cell c = Ok(expr);
        EXPECT_EQ(c.type, TW_FLOAT) << expr;
        return c.f;
    }
    std::string Str(const char* expr) {
        Cell c = Ok(expr);
        EXPECT_EQ(c.type, TW_STRING) << expr;
        std::string s = cell_str(st, &c);
        cell_release(st, &c, CM_VARBOUND);
        return s;
    }
    std::string Detail() const { return st->detail ? st->detail : ""; }
    // A one- or two-dimensional array in a variable.
    void MakeArray(const char* name, uint32_t d1, uint32_t d2 = 0) {
        Cell a;
        cell_init(&a);
        ASSERT_EQ(CreateMyArray(st, &a, d1, d2, 0, 0, 0, 0, d2 ? 2 : 1), 1u);
        ASSERT_TRUE(var_assign(st, var_create(st, name, TW_UNINIT), &a));
        cell_release(st, &a, CM_BARE);
    }
};

TEST_F(Eval, PrecedenceAndAssociativity) {
    EXPECT_EQ(Int("2 + 3 * 4 ** 2"), 50);
    EXPECT_EQ(Int("2 ** 3 ** 2"), 64);          // left to right
    EXPECT_EQ(Int("(2 + 3) * 4"), 20);
    EXPECT_EQ(Int("10 - 4 - 3"), 3);
    EXPECT_EQ(Int("1 << 2 + 1"), 8);             // + binds tighter than <<
    EXPECT_EQ(Int("6 & 3 == 2"), 0);             // == binds tighter than &
    EXPECT_EQ(Int("1 + 2 == 3 && 4 > 3"), 1);
    EXPECT_EQ(Int("0 || 0 && 1"), 0);            // && and || share a level: (0 || 0) && 1
    EXPECT_EQ(Str("\"a\" : 1 + 2"), "a3");       // ":" is looser than +
    EXPECT_EQ(Int("-2 ** 2"), 4);                // unary minus binds tighter than **
    EXPECT_EQ(Int("- - 3"), 3);
}

TEST_F(Eval, OperatorsWithoutBlanksAndWordOperators) {
    SetInt("a", 1);
    SetInt("b", 3);
    Ok("a<<=b");
    EXPECT_EQ(VarCell("a")->i, 8);
    SetInt("modx", 17);                          // a variable, not "mod x"
    EXPECT_EQ(Int("modx mod 5"), 2);
    EXPECT_EQ(Int("modx MOD 5"), 2);
}

TEST_F(Eval, IntegerDivisionRemainderAndWrapAround) {
    EXPECT_EQ(Int("7/2"), 3);
    EXPECT_EQ(Int("-7/2"), -3);                  // truncation toward zero
    EXPECT_EQ(Int("-7 mod 3"), -1);              // sign of the left operand
    EXPECT_EQ(Int("7 mod -3"), 1);
    EXPECT_EQ(Err("1/0"), 3062);
    EXPECT_EQ(Err("1 mod 0"), 3062);
    EXPECT_EQ(Err("1.0/0"), 3062);
    EXPECT_EQ(Err("5.5 mod 0.0"), 3062);
    EXPECT_EQ(Int("2147483647 + 1"), INT_MIN);
    EXPECT_EQ(Int("-2147483647 - 2"), INT_MAX);
    EXPECT_EQ(Int("65536 * 65536"), 0);
    EXPECT_EQ(Int64("2147483648 + 1"), 2147483649LL);
    EXPECT_EQ(Int64("9223372036854775807 + 1"), LLONG_MIN);
    EXPECT_EQ(Int64("9223372036854775808"), LLONG_MIN);   // literal digits wrap in 64 bits
}

TEST_F(Eval, MostNegativeDividedByMinusOneIsDefined) {
    SetInt("m", INT_MIN);
    EXPECT_EQ(Int("m / -1"), INT_MIN);
    EXPECT_EQ(Int("m mod -1"), 0);
    EXPECT_EQ(Int64("(-9223372036854775807 - 1) / -1"), LLONG_MIN);
    EXPECT_EQ(Int64("(-9223372036854775807 - 1) mod -1"), 0);
}

TEST_F(Eval, FloatArithmeticAndRange) {
    EXPECT_DOUBLE_EQ(Float("7.0/2"), 3.5);
    EXPECT_DOUBLE_EQ(Float("7.5 mod 2"), 1.5);
    EXPECT_DOUBLE_EQ(Float("-7.5 mod 2"), -1.5);
    EXPECT_DOUBLE_EQ(Float("2.0 ** 0.5"), std::sqrt(2.0));
    EXPECT_EQ(Int("0.5 && 2"), 1);               // logical operators give INT
    EXPECT_EQ(Int("0.0 || 0"), 0);
    EXPECT_EQ(Err("1e300 * 10"), 1342);
    EXPECT_EQ(Err("10.0 ** 400"), 1342);
    EXPECT_EQ(Float("1e-300 / 10"), 0.0);         // underflow becomes 0.0
    EXPECT_EQ(Err("(-8.0) ** 0.5"), 1341);       // domain error of the power function
    EXPECT_EQ(Err("1e400"), 1342);                // literal overflow
    EXPECT_EQ(Float("1e-400"), 0.0);
}

TEST_F(Eval, PowerOfIntegers) {
    SetInt("x", 7);
    EXPECT_EQ(Int("x ** 0"), 1);
    EXPECT_EQ(Int64("4294967296 ** 0"), 1);
    EXPECT_EQ(Err("x ** -1"), 1351);
    EXPECT_EQ(Err("4294967296 ** -1"), 1351);
    EXPECT_EQ(Int("2 ** 31"), INT_MIN);          // wraps like repeated multiplication
    EXPECT_EQ(Int("3 ** 5"), 243);
    EXPECT_EQ(Int("-1 ** 2000000001"), -1);       // huge exponents finish at once
    EXPECT_EQ(Int("2 ** 40"), 0);
    EXPECT_EQ(Int64("2147483648 ** 2"), 1LL << 62);
}

TEST_F(Eval, BitwiseAndShifts) {
    EXPECT_EQ(Int("6 ^ 3"), 5);
    EXPECT_EQ(Int("6 | 3"), 7);
    EXPECT_EQ(Int("1 << 33"), 2);                // shift count modulo 32
    EXPECT_EQ(Int("-8 >> 1"), -4);               // arithmetic shift
    EXPECT_EQ(Int64("4294967296 << 65"), 8589934592LL);   // modulo 64 for INT64
    EXPECT_EQ(Err("1.0 & 3"), 3063);
    EXPECT_EQ(Err("1 << 2.0"), 3063);
    EXPECT_EQ(Err("~1.5"), 3064);
}

TEST_F(Eval, UnaryOperators) {
    EXPECT_EQ(Int("!0"), 1);
    EXPECT_EQ(Int("!5"), 0);
    EXPECT_EQ(Int("!0.0"), 1);
    EXPECT_EQ(Int64("!4294967296"), 0);
    EXPECT_EQ(Int("~0"), -1);
    EXPECT_EQ(Int("+\"12\""), 12);
    EXPECT_EQ(Err("-\"abc\""), 3057);
    EXPECT_EQ(Int("-2147483647 - 1"), INT_MIN);
}

TEST_F(Eval, StringsBecomeNumbersForArithmetic) {
    EXPECT_EQ(Int("\"12\" + 3"), 15);
    EXPECT_DOUBLE_EQ(Float("\"1.5\" + 1"), 2.5);
    EXPECT_EQ(Int64("\"2147483648\" + 0"), 2147483648LL);
    EXPECT_EQ(Int("\" 7\" * 2"), 14);
    EXPECT_EQ(Err("\"abc\" + 1"), 3057);
    EXPECT_EQ(Err("\"12 \" + 1"), 3057);          // trailing blank: not a number
    EXPECT_EQ(Err("\"1d5\" + 1"), 3057);
}

TEST_F(Eval, Concatenation) {
    EXPECT_EQ(Str("\"abc\":1"), "abc1");
    EXPECT_EQ(Str("1 : 2.5"), "12.5");
    EXPECT_EQ(Str("\"\" : \"\""), "");
    // Either side wide: the result is wide.
    uint16_t w = var_create(st, "w", TW_UNINIT);
    Cell c;
    cell_init(&c);
    ASSERT_TRUE(cell_set_wstr(st, &c, L"\x3b1\x3b2", 2));
    ASSERT_TRUE(var_assign(st, w, &c));
    cell_release(st, &c, CM_BARE);
    Cell r = Ok("w : \"x\" : 1");
    ASSERT_EQ(r.type, TW_UNICODE);
    EXPECT_EQ(std::wstring(cell_wstr(st, &r)), L"\x3b1\x3b2x1");
    cell_release(st, &r, CM_BARE);
    MakeArray("arr", 2);
    EXPECT_EQ(Err("arr : \"x\""), 3056);
}

TEST_F(Eval, ComparisonModes) {
    EXPECT_EQ(Int("\"10\" == 10.0"), 1);          // string number vs float
    EXPECT_EQ(Int("\"abc\" < \"abd\""), 1);
    EXPECT_EQ(Int("\"abc\" == \"ABC\""), 0);      // case-sensitive
    EXPECT_EQ(Int("\"12345678901\" > \"9\""), 1); // long text, not byte order
    EXPECT_EQ(Int("\"-12345678901\" < 5"), 1);
    EXPECT_EQ(Int("12 == \"00000000012\""), 1);
    EXPECT_EQ(Int("\"-0\" == \"0\""), 1);
    EXPECT_EQ(Int("\"9\" > \"10\""), 0);          // both integers: compared as numbers
    EXPECT_EQ(Int("5 == \"5\""), 1);
    EXPECT_EQ(Int("5 < \"abc\""), 1);             // a text that is no number: text mode
    EXPECT_EQ(Int("0.1 + 0.2 == 0.3"), 1);        // equal as displayed by Decimals
    EXPECT_EQ(Int("0.1 + 0.2 != 0.3"), 0);
    EXPECT_EQ(Int("0.1 + 0.2 > 0.3"), 1);         // ordering uses the difference
    EXPECT_EQ(Int("2147483648 == 2147483648.0"), 1);
    EXPECT_EQ(Int("4294967296 > 2147483647"), 1);
    EXPECT_EQ(Int("1 <> 2"), 1);
    EXPECT_EQ(Int("2 >= 2"), 1);
    EXPECT_EQ(Int("2 <= 1"), 0);
    MakeArray("arr", 2);
    EXPECT_EQ(Err("arr == 1"), 3057);
}

TEST_F(Eval, ComparisonCalledByOtherModules) {
    Cell a, b;
    cell_init(&a);
    cell_init(&b);
    ASSERT_TRUE(cell_set_str(st, &a, "abc", 3));
    ASSERT_TRUE(cell_set_str(st, &b, "ABC", 3));
    // Without releaseStrings the cells are only read: shallow copies may be passed.
    Cell l = a, r = b;
    EXPECT_TRUE(compare_cells(st, KW_OP_EQ, &l, &r, false, true));   // case-insensitive
    EXPECT_EQ(l.type, TW_INT);
    EXPECT_EQ(l.i, 1);
    EXPECT_STREQ(cell_str(st, &a), "abc");
    l = a;
    EXPECT_TRUE(compare_cells(st, KW_OP_EQ, &l, &r, false, false));
    EXPECT_EQ(l.i, 0);
    l = a;
    EXPECT_FALSE(compare_cells(st, KW_OP_PLUS, &l, &r, false, false));
    EXPECT_EQ(st->err, 3063);
    st->err = 0;
    EXPECT_TRUE(compare_cells(st, KW_OP_GT, &a, &b, true, false));   // releases both
    EXPECT_EQ(b.type, TW_INT);
}

TEST_F(Eval, AssignmentAndCompoundAssignment) {
    Cell c = Ok("x = 5");
    EXPECT_EQ(c.i, 5);                           // the value is also the result
    EXPECT_EQ(VarCell("x")->i, 5);
    Ok("x += 2");
    Ok("x *= 3");
    Ok("x mod= 4");
    EXPECT_EQ(VarCell("x")->i, 1);
    Ok("s = \"a\"");
    Ok("s := \"b\"");
    Ok("s := 1");
    EXPECT_STREQ(cell_str(st, VarCell("s")), "ab1");
    Ok("f = 1.5");
    Ok("f -= 0.5");
    EXPECT_EQ(VarCell("f")->type, TW_FLOAT);
    EXPECT_DOUBLE_EQ(VarCell("f")->f, 1.0);
}

TEST_F(Eval, AssignmentFailures) {
    EXPECT_EQ(Err("y += 1"), 3052);              // uninitialised compound target
    EXPECT_NE(Detail().find("y"), std::string::npos);
    EXPECT_EQ(Err("x = 1", 0), 3069);            // assignment not allowed here
    EXPECT_NE(Detail().find("=="), std::string::npos);
    EXPECT_EQ(Err("1 = 2"), 3069);
    SetInt("b", 1);
    EXPECT_EQ(Err("a = b = 3"), 3069);
    SetInt("x", 5);
    EXPECT_EQ(Err("x = 1/0"), 3062);             // the target keeps its old value
    EXPECT_EQ(VarCell("x")->i, 5);
    EXPECT_EQ(Err("x += \"abc\""), 3057);
    EXPECT_EQ(VarCell("x")->i, 5);
    EXPECT_EQ(Err("x = "), 3071);
}

TEST_F(Eval, ArrayElements) {
    MakeArray("arr", 3);
    Ok("arr[1] = 7");
    EXPECT_EQ(Int("arr[1] * 2"), 14);
    EXPECT_EQ(Int("arr[0+1] + arr[1]"), 14);
    Ok("arr[2] = \"t\"");
    Ok("arr[2] := \"u\"");
    EXPECT_EQ(Str("arr[2]"), "tu");
    EXPECT_EQ(Err("arr[0]"), 1640);               // empty element
    EXPECT_EQ(Err("arr[0] += 1"), 1640);
    EXPECT_EQ(Err("arr[3]"), 1636);
    EXPECT_EQ(Err("arr[-1] = 1"), 1636);
    EXPECT_EQ(Err("arr[1,2]"), 1635);
    EXPECT_EQ(Err("arr[1"), 1633);
    EXPECT_EQ(Err("arr[\"x\"]"), 1634);
    EXPECT_EQ(Err("arr + 1"), 3057);
    EXPECT_EQ(Err("arr[1] = 1/0"), 3062);
    EXPECT_EQ(Int("arr[1]"), 7);

    MakeArray("m", 2, 3);
    Ok("m[1, 2] = 5");
    const Cell* mc = VarCell("m");
    ASSERT_TRUE(mc && (mc->type & TW_ARRAY));
    EXPECT_EQ(arr_elem(mc->arr, 5)->i, 5);        // row-major: 1*3 + 2
    EXPECT_EQ(Err("m[2, 0]"), 1636);
    EXPECT_EQ(Err("m[1]"), 1635);

    // "[" after a variable that is no array is left for the caller (3074).
    SetInt("n", 1);
    Cell c;
    EXPECT_EQ(eval_text(st, "n[0]", &c), 1);
    EXPECT_TRUE(st->delimType == TK_KEYWORD && st->tok == KW_OP_LBRACKET);
}

TEST_F(Eval, VariablesAndConstants) {
    EXPECT_EQ(Err("nosuch"), 3052);
    EXPECT_NE(Detail().find("nosuch"), std::string::npos);
    EXPECT_EQ(Int("@TRUE + @false"), 1);
    EXPECT_EQ(Int("@capslock"), 20);
    EXPECT_DOUBLE_EQ(Float("@pi"), 3.141592653589793);
    EXPECT_DOUBLE_EQ(Float("@lightmps"), 186272.0);
    EXPECT_EQ(Str("@crlf : @tab : @cr : @lf"), "\r\n\t\r\n");
    EXPECT_EQ(Str("'it''s'"), "it's");
    EXPECT_EQ(Err("(1 + 2"), 3065);
}

TEST_F(Eval, VariablePointers) {
    SetInt("x", 5);
    Ok("p = &x");
    EXPECT_EQ(std::string(cell_str(st, VarCell("p"))).rfind("#VAR$PTR#", 0), 0u);
    EXPECT_EQ(Int("*p + 1"), 6);
    // A statement that began with "*": the executor stepped over it.
    Cell c;
    ASSERT_EQ(eval_text(st, "p = 42", &c, 1, 1), 1);
    EXPECT_EQ(VarCell("x")->i, 42);
    EXPECT_EQ(VarCell("p")->type, TW_STRING);
    ASSERT_EQ(eval_text(st, "p += 1", &c, 1, 1), 1);
    EXPECT_EQ(VarCell("x")->i, 43);
    EXPECT_EQ(Err("&5"), 3818);
    EXPECT_EQ(Err("*x"), 3813);
    SetString("q", "#VAR$PTR#0000");
    EXPECT_EQ(Err("*q"), 3813);
    // A pointer to an array addresses its elements.
    MakeArray("arr", 2);
    Ok("arr[1] = 9");
    Ok("pa = &arr");
    EXPECT_EQ(Int("*pa[1]"), 9);
    ASSERT_EQ(eval_text(st, "pa[0] = 3", &c, 1, 1), 1);
    EXPECT_EQ(Int("arr[0]"), 3);
}

TEST_F(Eval, FunctionCallSyntaxIsCheckedBeforeTheCall) {
    EXPECT_EQ(Err("StrLen \"abc\""), 3067);
    EXPECT_NE(Detail().find("not followed by open parenthesis"), std::string::npos);
    EXPECT_EQ(Err("StrSub(\"abc\", 1)"), 3068);   // a required argument is missing
    EXPECT_NE(Detail().find("more parameters"), std::string::npos);
    EXPECT_EQ(Err("StrLen(\"a\", \"b\")"), 3066); // one argument too many
    EXPECT_EQ(Err("StrLen()"), 3066);
    EXPECT_EQ(Err("StrLen(x = 1)"), 3069);
    EXPECT_EQ(Err("StrLen(\"a\""), 3066);
}

TEST_F(Eval, ObjectReferencesNeedTheAutomationClient) {
    EXPECT_EQ(Err("obj.Name"), 3046);
    EXPECT_NE(Detail().find("COM"), std::string::npos);
}

TEST_F(Eval, TemporariesAreReleased) {
    SetString("s", "text");
    MakeArray("arr", 3);
    Ok("arr[0] = \"element\"");
    const uint64_t before = UsedBytes();
    const char* lines[] = {
        "s : \"x\" : 1.5 : s",     "\"12\" + \"3\" * 2",     "s == \"text\" && \"a\" < \"b\"",
        "arr[0] : arr[0]",         "\"abc\" + 1",            "(s : 1) / 0",
        "StrSub(s : s, 1)",        "arr[5] : s",             "\"12345678901\" > s",
    };
    for (int round = 0; round < 3; round++) {
        for (const char* line : lines) {
            Cell c;
            eval_text(st, line, &c);
            cell_release(st, &c, CM_VARBOUND);
            err_detail_free(st);
        }
    }
    EXPECT_EQ(UsedBytes(), before);
    char why[200];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
}

// Thousands of nested parentheses end in an error, not a stack overflow.
TEST_F(Eval, DeepNestingEndsInAnError) {
    struct Job {
        State* st;
        int ok, err;
    } job{st, -1, 0};
    auto run = [](void* p) -> DWORD {
        Job* j = static_cast<Job*>(p);
        std::string line(50000, '(');
        line += "1";
        line += std::string(50000, ')');
        Cell c;
        j->ok = eval_text(j->st, line.c_str(), &c);
        j->err = j->st->err;
        return 0;
    };
    HANDLE t = CreateThread(nullptr, 256 * 1024, run, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    EXPECT_EQ(job.ok, 0);
    EXPECT_EQ(job.err, 3353);
}

}  // namespace

namespace {

// Random token soup: every line ends in a result or a numbered error, never a
// crash, and nothing it built stays in the string heap.
TEST_F(Eval, RandomLinesNeverCrashOrLeak) {
    SetInt("n", 3);
    SetString("s", "12");
    SetString("t", "text");
    MakeArray("arr", 4);
    Ok("arr[1] = \"one\"");
    Ok("arr[2] = 2.5");
    Ok("p = &n");
    const char* const vocab[] = {
        "1", "0", "-", "+", "*", "/", "mod", "**", ":", "<<", ">>", "&", "|", "^", "&&", "||", "==", "!=",
        "<>", "<", "<=", ">", ">=", "!", "~", "(", ")", "[", "]", ",", "=", "+=", ":=", "n", "s", "t",
        "arr", "p", "*p", "&n", "2147483647", "9223372036854775807", "1.5", "1e300", "0.0", "\"abc\"",
        "\"7\"", "'x'", "@TRUE", "@pi", "@crlf", "Decimals", "ArrInfo", "IsDefined", "VarType", "obj.x",
        "Max", "undefinedname", "mod=", "1e-300",
    };
    const int nv = sizeof vocab / sizeof vocab[0];
    const uint64_t before = UsedBytes();
    uint32_t seed = 12345;
    auto rnd = [&](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
    };
    int ok = 0, failed = 0;
    for (int line = 0; line < 20000; line++) {
        std::string text;
        int len = 1 + rnd(12);
        for (int k = 0; k < len; k++) {
            text += vocab[rnd(nv)];
            text += ' ';
        }
        Cell c;
        // No assignments: the variables (and so the heap) stay as they are.
        int r = eval_text(st, text.c_str(), &c, 0);
        ASSERT_TRUE(r == 0 || r == 1) << text;
        if (r) {
            ok++;
        } else {
            failed++;
            ASSERT_NE(st->err, 0) << text;
            ASSERT_EQ(c.type, TW_INT) << text;
        }
        cell_release(st, &c, CM_VARBOUND);
        err_detail_free(st);
        st->decimals = -1;
    }
    EXPECT_GT(ok, 100);
    EXPECT_GT(failed, 100);
    EXPECT_EQ(UsedBytes(), before);
    char why[200];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;

    // With assignments (and statement-level pointers) the variables change;
    // the heap must stay consistent.
    for (int line = 0; line < 5000; line++) {
        std::string text = vocab[33 + rnd(6)];   // a variable first
        int len = 1 + rnd(10);
        for (int k = 0; k < len; k++) {
            text += ' ';
            text += vocab[rnd(nv)];
        }
        Cell c;
        int r = eval_text(st, text.c_str(), &c, 1, rnd(8) == 0);
        ASSERT_TRUE(r == 0 || r == 1) << text;
        cell_release(st, &c, CM_VARBOUND);
        err_detail_free(st);
        st->decimals = -1;
    }
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
}

}  // namespace
