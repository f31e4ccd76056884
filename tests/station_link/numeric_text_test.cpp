// The numeric text value rule, the 16-bit port number conversion, next_field and com_number.
#include "weather.h"

#include <cfenv>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using weather::com_number;
using weather::next_field;
using weather::numeric_value;
using weather::round_half_even;
using weather::to_port_number;

TEST(NumericValue, ReadsTheLeadingNumberByTheOneRule) {
    struct Case {
        std::string text;
        double want;
    };
    const Case cases[] = {
        {"", 0},
        {"-", 0},
        {"abc", 0},
        {"52.5", 52.5},
        {"101325\r", 101325},
        {"29.92*\r", 29.92},
        {"  12", 12},
        {"1 2", 12},      // blanks are skipped inside a number too
        {"1\t2\n3", 123}, // so are tabs and line feeds
        {"-12.5", -12.5},
        {"+7", 7},
        {"- 7", -7},
        {".5", 0.5},
        {"5.", 5},
        {"1.2.3", 1.2}, // at most one decimal point
        {"985,3", 985}, // the comma is not a decimal point
        {"1E3", 1000},
        {"1e3", 1000},
        {"2D2", 200}, // D marks an exponent as well
        {"1E-2", 0.01},
        {"1E+2x", 100},
        {"1E", 1}, // an exponent letter without digits adds nothing
        {"1Ex", 1},
        {"E5", 0},
        {"--5", 0},
        {"5-3", 5},
        {"0x1F", 0},
        {"1\r2", 1}, // a carriage return ends the number
        {"00012.50", 12.5},
        {"1E0000000000000000002", 100}, // leading zeros of a long exponent
        {"1E-400", 0},
        {"0.000", 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(numeric_value(c.text), c.want) << '"' << c.text << '"';
}

TEST(NumericValue, NumbersBeyondADoubleAreInfiniteNotGarbage) {
    EXPECT_EQ(numeric_value("1E400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(numeric_value("-1E999999999999999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(numeric_value(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(numeric_value("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_DOUBLE_EQ(numeric_value("1E39"), 1e39); // fits a double, not a float
}

TEST(NumericValue, LongDigitRunsAndTheExponentTogetherGiveTheExactValue) {
    const std::string zeros(400, '0');
    EXPECT_EQ(numeric_value("1" + zeros + "E-400"), 1.0);
    EXPECT_EQ(numeric_value("0." + zeros + "25E401"), 2.5);
    EXPECT_EQ(numeric_value("0." + zeros + "1E999999999999999"),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(numeric_value("1E-310"), 1e-310); // below the normal doubles, not yet 0
    EXPECT_EQ(numeric_value("0E999999"), 0.0);
    // 1 + 2^-53, halfway between 1 and the next double: to even, unless a digit thousands of
    // places further on tips it.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(numeric_value(half + std::string(5000, '0')), 1.0);
    EXPECT_EQ(numeric_value(half + std::string(5000, '0') + "1"), 1.0000000000000002);
    EXPECT_EQ(numeric_value("-" + half + std::string(5000, '0') + "1E0"), -1.0000000000000002);
}

TEST(NumericValue, IgnoresBytesAbove127AndNul) {
    EXPECT_EQ(numeric_value(std::string("\xBA"
                                        "5")),
              0);
    EXPECT_EQ(numeric_value(std::string("7\0"
                                        "8",
                                        3)),
              7);
}

TEST(PortNumber, RoundsHalvesToEvenAndRejectsWhatDoesNotFit) {
    struct Case {
        double value;
        int want;
    };
    const Case cases[] = {
        {2.5, 2},
        {3.5, 4},
        {-2.5, -2},
        {2.4999, 2},
        {2.5001, 3},
        {0.5, 0},
        {1.5, 2},
        {32767, 32767},
        {32767.4, 32767},
        {32767.5, 0},
        {32768, 0},
        {-32768, -32768},
        {-32768.5, -32768},
        {-32769, 0},
        {1e300, 0},
        {std::numeric_limits<double>::infinity(), 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_port_number(c.value), c.want) << c.value;
}

TEST(RoundHalfEven, TakesTheNearestIntegerAndTheEvenOneAtHalves) {
    struct Case {
        double value;
        double want;
    };
    const Case cases[] = {
        {0.5, 0},
        {1.5, 2},
        {2.5, 2},
        {-0.5, 0}, // -0
        {-1.5, -2},
        {-2.5, -2},
        {2.4999, 2},
        {-2.5001, -3},
        {0.49999999999999994, 0}, // the double just below 0.5
        {-0.49999999999999994, 0},
        {4503599627370495.5, 4503599627370496}, // 2^52 - 0.5: the last doubles with halves
        {4503599627370494.5, 4503599627370494},
        {1e20, 1e20},
        {-1e300, -1e300},
    };
    for (const auto& c : cases)
        EXPECT_EQ(round_half_even(c.value), c.want) << c.value;
    EXPECT_EQ(to_port_number(-0.5), 0);
    EXPECT_EQ(round_half_even(-std::numeric_limits<double>::infinity()),
              -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(round_half_even(std::numeric_limits<double>::quiet_NaN())));
}

TEST(PortNumber, DoesNotDependOnTheProcessorsRoundingMode) {
    const double values[] = {2.4,      2.5,
                             2.6,      3.5,
                             -2.4,     -2.5,
                             -2.6,     0.49999999999999994,
                             -0.5,     32767.4,
                             32767.5,  -32768.4,
                             -32768.6, 1.0000000000000002};
    std::vector<int> nearest;
    for (const double v : values)
        nearest.push_back(to_port_number(v));
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        std::vector<int> got;
        for (const double v : values)
            got.push_back(to_port_number(v));
        std::fesetround(FE_TONEAREST);
        EXPECT_EQ(got, nearest) << "rounding mode " << mode;
    }
}

TEST(ComNumber, TakesTheNumberAfterTheFirstThreeCharacters) {
    struct Case {
        std::string name;
        int want;
    };
    const Case cases[] = {
        {std::string("COM3\0", 5), 3},
        {std::string("COM12\0", 6), 12},
        {"COM12", 12}, // stored without its NUL
        {"COM", 0},
        {"", 0},
        {"CO", 0},
        {"CNCA0", 0}, // a letter where the number belongs
        {"COM33 (ttyUSB0)", 33},
        {"COM7 (pts/3)", 7},
        {"COM999 (pts/10)", 999},
        {"COM70000", 0}, // beyond 16 bits: no port
        {"COM-32768", -32768},
        {"COM2.5", 2},
        {std::string("COM\0"
                     "4",
                     5),
         4}, // NULs go wherever they stand
    };
    for (const auto& c : cases)
        EXPECT_EQ(com_number(c.name), c.want) << '"' << c.name << '"';
}

TEST(NextField, SplitsAtTheFirstDelimiter) {
    struct Case {
        std::string text;
        char delimiter;
        std::string field;
        std::string rest;
    };
    const Case cases[] = {
        {"a,b,c", ',', "a", "b,c"},
        {"abc", ',', "abc", ""},  // no delimiter: all of it, text left
                                  // empty
        {"abc,", ',', "abc", ""}, // delimiter last
        {",abc", ',', "", "abc"},
        {"", ',', "", ""},
        {"x$#1,2", '#', "x$", "1,2"},
        {"A,a", 'a', "A,", ""}, // case-sensitive
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(next_field(text, c.delimiter), c.field) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}
