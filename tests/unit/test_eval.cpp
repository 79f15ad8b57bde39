// The evaluator's internals on a real state: the comparison that other
// modules call, the element layout of arrays, the depth limit of nested
// parentheses, and random token soup that must never crash or leak.
// What a script sees of operators, conversions and errors is checked by the
// script tests in tests/scripts/expressions/.
#include "fixture.h"
#include "eval.h"
#include "errors.h"
#include "tokenizer.h"
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
    // Evaluates a line that must succeed and end there.
    void Ok(const char* expr) {
        Cell c;
        EXPECT_EQ(eval_text(st, expr, &c), 1) << expr << " failed with " << st->err;
        EXPECT_EQ(st->delimType, TK_EOL) << expr << " left a token: " << st->token;
        cell_release(st, &c, CM_VARBOUND);
    }
    // A one- or two-dimensional array in a variable.
    void MakeArray(const char* name, uint32_t d1, uint32_t d2 = 0) {
        Cell a;
        cell_init(&a);
        ASSERT_EQ(CreateMyArray(st, &a, d1, d2, 0, 0, 0, 0, d2 ? 2 : 1), 1u);
        ASSERT_TRUE(var_assign(st, var_create(st, name, TW_UNINIT), &a));
        cell_release(st, &a, CM_BARE);
    }
};

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

TEST_F(Eval, ElementsAreStoredRowMajorAndABracketAfterANonArrayIsLeft) {
    MakeArray("m", 2, 3);
    Ok("m[1, 2] = 5");
    const Cell* mc = VarCell("m");
    ASSERT_TRUE(mc && (mc->type & TW_ARRAY));
    EXPECT_EQ(arr_elem(mc->arr, 5)->i, 5);        // 1*3 + 2
    // "[" after a variable that is no array is left for the caller (3074).
    SetInt("n", 1);
    Cell c;
    EXPECT_EQ(eval_text(st, "n[0]", &c), 1);
    EXPECT_TRUE(st->delimType == TK_KEYWORD && st->tok == KW_OP_LBRACKET);
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

// Chosen lines (temporaries of joins, numeric text, comparisons, failing
// calls and subscripts) and then random token soup: every line ends in a
// result or a numbered error with nothing held in the result, never a crash,
// and nothing it built stays in the string heap.
TEST_F(Eval, LinesNeverCrashOrLeak) {
    SetInt("n", 3);
    SetString("s", "12");
    SetString("t", "text");
    MakeArray("arr", 4);
    Ok("arr[0] = \"element\"");
    Ok("arr[1] = \"one\"");
    Ok("arr[2] = 2.5");
    Ok("p = &n");
    const char* const chosen[] = {
        "t : \"x\" : 1.5 : t",     "\"12\" + \"3\" * 2",     "t == \"text\" && \"a\" < \"b\"",
        "arr[0] : arr[0]",         "\"abc\" + 1",            "(t : 1) / 0",
        "StrSub(t : t, 1)",        "arr[5] : t",             "\"12345678901\" > t",
    };
    const char* const vocab[] = {
        "1", "0", "-", "+", "*", "/", "mod", "**", ":", "<<", ">>", "&", "|", "^", "&&", "||", "==", "!=",
        "<>", "<", "<=", ">", ">=", "!", "~", "(", ")", "[", "]", ",", "=", "+=", ":=", "n", "s", "t",
        "arr", "p", "*p", "&n", "2147483647", "9223372036854775807", "1.5", "1e300", "0.0", "\"abc\"",
        "\"7\"", "'x'", "@TRUE", "@pi", "@crlf", "Decimals", "ArrInfo", "IsDefined", "VarType", "obj.x",
        "Max", "undefinedname", "mod=", "1e-300",
    };
    const int nv = sizeof vocab / sizeof vocab[0];
    const uint64_t before = heap_bytes_in_use(st);
    uint32_t seed = 12345;
    auto rnd = [&](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
    };
    int ok = 0, failed = 0;
    for (int line = 0; line < 20000; line++) {
        std::string text;
        if (line < 3 * 9) {
            text = chosen[line % 9];
        } else {
            for (int k = 0, len = 1 + rnd(12); k < len; k++) text += std::string(vocab[rnd(nv)]) + " ";
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
    EXPECT_EQ(heap_bytes_in_use(st), before);
    char why[200];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;

    // With assignments (and statement-level pointers) the variables change;
    // the heap must stay consistent.
    for (int line = 0; line < 5000; line++) {
        std::string text = vocab[33 + rnd(6)];   // a variable first
        for (int k = 0, len = 1 + rnd(10); k < len; k++) text += std::string(" ") + vocab[rnd(nv)];
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
