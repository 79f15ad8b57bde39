// Text as numbers, the float-to-integer rules, in-place conversions, the
// floating-point fault slot, and the text of values that have none. Numbers
// as text under the Decimals settings: tests/scripts/expressions/number_text.kel.
#include "fixture.h"
#include "eval.h"
#include <climits>
#include <cmath>
#include <string>

namespace {

class NumText : public StateFixture {};

// Runs one integer-reading rule over a table of cases: whether it succeeds,
// and then the value and whether it needed 64 bits.
template <class C, size_t N, class Rule>
void check_integer_cases(const C (&cases)[N], Rule rule) {
    for (const C& c : cases) {
        int64_t v = 0;
        bool is64 = false;
        EXPECT_EQ(rule(c, &v, &is64), c.ok) << ::testing::PrintToString(c.in);
        if (c.ok) EXPECT_EQ(v, c.v) << ::testing::PrintToString(c.in);
        if (c.ok) EXPECT_EQ(is64, c.is64) << ::testing::PrintToString(c.in);
    }
}

TEST_F(NumText, NonFiniteIs1599) {
    char buf[64];
    for (double v : {std::nan(""), HUGE_VAL}) {
        st->err = 0;
        EXPECT_FALSE(float_text(st, v, buf, sizeof buf));
        EXPECT_EQ(st->err, 1599);
    }
}

TEST_F(NumText, IntegerTest) {
    struct Case {
        const char* in;
        bool wide64, ok;
        int64_t v;
        bool is64;
    };
    const Case cases[] = {
        {"  -12", true, true, -12, false}, {"+7", true, true, 7, false},
        {"99999999999", true, true, 99999999999LL, true},
        {"4294967297", false, true, 1, false},   // 32-bit wrap
        {"-2147483648", true, true, INT_MIN, false},
        {"12 ", true, false}, {"", true, false}, {"-", true, false}, {"1.0", true, false}, {"- 1", true, false},
    };
    check_integer_cases(cases, [](const Case& c, int64_t* v, bool* is64) { return text_is_integer(c.in, c.wide64, v, is64); });
}

TEST_F(NumText, FloatTest) {
    const std::pair<const char*, double> ok[] = {{".5", 0.5}, {" -1.5E3", -1500.0}, {"12", 12.0}, {"1e-400", 0.0}};
    for (auto [text, want] : ok) {
        double v = -1;
        EXPECT_TRUE(text_is_float(st, text, &v)) << text;
        EXPECT_EQ(v, want) << text;
    }
    double v;
    for (const char* text : {"1d5", "0x10", "inf", "nan", "1.5 ", ""}) EXPECT_FALSE(text_is_float(st, text, &v)) << text;
    EXPECT_EQ(st->err, 0);
    EXPECT_FALSE(text_is_float(st, "1e400", &v));
    EXPECT_EQ(st->err, 1342);
}

TEST_F(NumText, FloatToIntegerRules) {
    struct Case {
        double in;
        bool allow64, ok;
        int64_t v;
        bool is64;
    };
    const Case cases[] = {
        {2.5, false, true, 3, false},   {-2.5, false, true, -3, false},   // half away from zero
        {2147483645.0, false, true, 2147483645, false},
        {2147483646.0, false, false},   // the 32-bit threshold is 2147483645.0
        {2147483646.0, true, true, 2147483646, true},
        {-3e18 - 0.5, true, true, -3000000000000000000LL, true},
        {-9223372036854775808.0, true, true, LLONG_MIN, true},
        {1e19, true, false}, {std::nan(""), true, false},
    };
    check_integer_cases(cases, [](const Case& c, int64_t* v, bool* is64) { return float_to_int(c.in, c.allow64, v, is64); });
}

TEST_F(NumText, InPlaceConversions) {
    Cell c;
    cell_init(&c);
    ASSERT_TRUE(cell_set_str(st, &c, "12.5", 4));
    EXPECT_FALSE(conv_to_int(st, &c, false, false));   // no float rounding allowed
    EXPECT_EQ(st->err, 0);                             // the caller chooses the error
    EXPECT_EQ(c.type, TW_STRING);                      // unchanged on failure
    EXPECT_TRUE(conv_to_int(st, &c, true, false));
    EXPECT_EQ(c.type, TW_INT);
    EXPECT_EQ(c.i, 13);

    c.type = TW_INT64;
    c.i64 = 0x100000005LL;
    EXPECT_TRUE(conv_to_int(st, &c, false, false));    // keeps the low 32 bits
    EXPECT_EQ(c.type, TW_INT);
    EXPECT_EQ(c.i, 5);

    EXPECT_TRUE(conv_to_ansi(st, &c));
    EXPECT_STREQ(cell_str(st, &c), "5");
    EXPECT_TRUE(conv_to_wide(st, &c));
    EXPECT_EQ(c.type, TW_UNICODE);
    EXPECT_EQ(std::wstring(cell_wstr(st, &c)), L"5");
    EXPECT_TRUE(conv_to_float(st, &c));
    EXPECT_EQ(c.type, TW_FLOAT);
    EXPECT_EQ(c.f, 5.0);
    cell_release(st, &c, CM_BARE);

    // An automation value converts through its plain value.
    Cell v;
    cell_init(&v);
    v.type = TW_VARIANT;
    v.var.vt = VT_BSTR;
    v.var.bstrVal = SysAllocString(L"42");
    EXPECT_TRUE(conv_to_int(st, &v, false, true));
    EXPECT_EQ(v.type, TW_INT);
    EXPECT_EQ(v.i, 42);
}

TEST_F(NumText, MathLibraryFaultsAreRaised) {
    fp_take_fault();
    volatile double x = -1.0;
    double r = std::log(x);   // domain error goes through the math library's callback
    (void)r;
    double y = 1.0;
    EXPECT_FALSE(fp_check_result(st, &y));
    EXPECT_EQ(st->err, 1341);
    st->err = 0;
    double tiny = 1e-310;
    EXPECT_TRUE(fp_check_result(st, &tiny));
    EXPECT_EQ(tiny, 0.0);
    double big = 2e300;
    EXPECT_FALSE(fp_check_result(st, &big));
    EXPECT_EQ(st->err, 1342);
    g_fpFault = 1344;
    EXPECT_EQ(fp_take_fault(), 1344);
    EXPECT_EQ(fp_take_fault(), 0);
}

}  // namespace
