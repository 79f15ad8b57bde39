// Numbers as text by the Decimals setting, text as numbers, the float-to-
// integer rules, in-place conversions and the floating-point fault slot.
#include "fixture.h"
#include "eval.h"
#include <climits>
#include <cmath>
#include <string>

namespace {

class NumText : public StateFixture {
protected:
    std::string F(double v, int decimals = -1) {
        st->decimals = decimals;
        char buf[400];
        st->err = 0;
        EXPECT_TRUE(float_text(st, v, buf, sizeof buf)) << v;
        return buf;
    }
    std::string N(const Cell& c) {
        char buf[400];
        EXPECT_TRUE(number_text(st, &c, buf, sizeof buf));
        return buf;
    }
};

TEST_F(NumText, DefaultDecimals) {
    EXPECT_EQ(F(2.5), "2.5");
    EXPECT_EQ(F(100.0), "100.0");
    EXPECT_EQ(F(1.0 / 3), "0.33333333");
    EXPECT_EQ(F(0.0), "0.0");
    EXPECT_EQ(F(-0.0), "0.0");
    EXPECT_EQ(F(-2.25), "-2.25");
    EXPECT_EQ(F(0.1 + 0.2), "0.3");
    EXPECT_EQ(F(999999999.0), "999999999.0");
    EXPECT_EQ(F(1e10), "1.00000000e+10");        // above 999999999: exponent form
    EXPECT_EQ(F(0.00001), "1.00000000e-05");     // below 0.0001: exponent form
    EXPECT_EQ(F(0.0001), "0.0001");
}

TEST_F(NumText, ExplicitDecimals) {
    EXPECT_EQ(F(2.5, 0), "3");                   // half away from zero
    EXPECT_EQ(F(-2.5, 0), "-3");
    EXPECT_EQ(F(2147483647.0, 0), "2147483647");
    EXPECT_EQ(F(3.14159, 2), "3.14");
    EXPECT_EQ(F(1.0, 2), "1.00");
    EXPECT_EQ(F(0.00001, 2), "0.00");            // no exponent form unless Decimals is -1
    EXPECT_EQ(F(1e10, 3), "1.000e+10");
    EXPECT_EQ(F(0.5, -2), "0.5");
    EXPECT_EQ(F(0.5, -3), "5.000000e-01");
    EXPECT_EQ(F(1e20, -2), "1e+20");
}

TEST_F(NumText, NonFiniteIs1599) {
    char buf[64];
    EXPECT_FALSE(float_text(st, std::nan(""), buf, sizeof buf));
    EXPECT_EQ(st->err, 1599);
    st->err = 0;
    EXPECT_FALSE(float_text(st, HUGE_VAL, buf, sizeof buf));
    EXPECT_EQ(st->err, 1599);
}

TEST_F(NumText, IntegersAndTheirMinimum) {
    Cell c;
    cell_init(&c, INT_MIN);
    EXPECT_EQ(N(c), "-2147483648");
    c.type = TW_INT64;
    c.i64 = LLONG_MIN;
    EXPECT_EQ(N(c), "-9223372036854775808");
    c.i64 = 1234567890123LL;
    EXPECT_EQ(N(c), "1234567890123");
}

TEST_F(NumText, DecimalsIsClamped) {
    st->decimals = -1;
    EXPECT_EQ(set_decimals(st, 9), -1);          // returns the previous setting
    EXPECT_EQ(st->decimals, 8);
    EXPECT_EQ(set_decimals(st, -4), 8);
    EXPECT_EQ(st->decimals, -1);
    set_decimals(st, -3);
    EXPECT_EQ(st->decimals, -3);
    eval_state_init(st);
    EXPECT_EQ(st->decimals, -1);
}

TEST_F(NumText, IntegerTest) {
    int64_t v;
    bool is64;
    EXPECT_TRUE(text_is_integer("  -12", true, &v, &is64));
    EXPECT_EQ(v, -12);
    EXPECT_FALSE(is64);
    EXPECT_TRUE(text_is_integer("+7", true, &v, &is64));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(text_is_integer("12 ", true, &v, &is64));
    EXPECT_FALSE(text_is_integer("", true, &v, &is64));
    EXPECT_FALSE(text_is_integer("-", true, &v, &is64));
    EXPECT_FALSE(text_is_integer("1.0", true, &v, &is64));
    EXPECT_FALSE(text_is_integer("- 1", true, &v, &is64));
    EXPECT_TRUE(text_is_integer("99999999999", true, &v, &is64));
    EXPECT_EQ(v, 99999999999LL);
    EXPECT_TRUE(is64);
    EXPECT_TRUE(text_is_integer("4294967297", false, &v, &is64));   // 32-bit wrap
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(is64);
    EXPECT_TRUE(text_is_integer("-2147483648", true, &v, &is64));
    EXPECT_FALSE(is64);
}

TEST_F(NumText, FloatTest) {
    double v;
    EXPECT_TRUE(text_is_float(st, ".5", &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(text_is_float(st, " -1.5E3", &v));
    EXPECT_EQ(v, -1500.0);
    EXPECT_TRUE(text_is_float(st, "12", &v));
    EXPECT_FALSE(text_is_float(st, "1d5", &v));
    EXPECT_FALSE(text_is_float(st, "0x10", &v));
    EXPECT_FALSE(text_is_float(st, "inf", &v));
    EXPECT_FALSE(text_is_float(st, "nan", &v));
    EXPECT_FALSE(text_is_float(st, "1.5 ", &v));
    EXPECT_FALSE(text_is_float(st, "", &v));
    EXPECT_EQ(st->err, 0);
    EXPECT_FALSE(text_is_float(st, "1e400", &v));
    EXPECT_EQ(st->err, 1342);
    st->err = 0;
    EXPECT_TRUE(text_is_float(st, "1e-400", &v));
    EXPECT_EQ(v, 0.0);
}

TEST_F(NumText, FloatToIntegerRules) {
    int64_t v;
    bool is64;
    EXPECT_TRUE(float_to_int(2.5, false, &v, &is64));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(float_to_int(-2.5, false, &v, &is64));
    EXPECT_EQ(v, -3);
    EXPECT_TRUE(float_to_int(2147483645.0, false, &v, &is64));
    EXPECT_FALSE(is64);
    EXPECT_FALSE(float_to_int(2147483646.0, false, &v, &is64));   // threshold is 2147483645.0
    EXPECT_TRUE(float_to_int(2147483646.0, true, &v, &is64));
    EXPECT_TRUE(is64);
    EXPECT_EQ(v, 2147483646);
    EXPECT_TRUE(float_to_int(-3e18 - 0.5, true, &v, &is64));
    EXPECT_EQ(v, -3000000000000000000LL);
    EXPECT_TRUE(float_to_int(-9223372036854775808.0, true, &v, &is64));
    EXPECT_EQ(v, LLONG_MIN);
    EXPECT_FALSE(float_to_int(1e19, true, &v, &is64));
    EXPECT_FALSE(float_to_int(std::nan(""), true, &v, &is64));
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
