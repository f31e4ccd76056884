// The two roundings of the main window and the locale-aware reading of its boxes.
#include "display_numbers.h"

#include <gtest/gtest.h>

using namespace main_window;

TEST(FormatReading, PatternZeroPointZeroRoundsHalvesAwayFromZero) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.0f, "0.0"},        {0.25f, "0.3"},          {-0.25f, "-0.3"},
        {0.05f, "0.1"},       {2.35f, "2.4"},          {2.34f, "2.3"},
        {9.95f, "10.0"},      {99.96f, "100.0"},       {985.27f, "985.3"},
        {1013.25f, "1013.3"}, {65.04f, "65.0"},        {27.35f, "27.4"},
        {-12.75f, "-12.8"},   {-0.04f, "-0.0"},        {7.0f, "7.0"},
        {1e-30f, "0.0"},      {123456.0f, "123456.0"}, {1e20f, "100000002004087734272.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_reading(c.value), c.text) << c.value;
}

TEST(FormatReading, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(format_reading(985.27f, ","), "985,3");
    EXPECT_EQ(format_reading(-0.25f, ","), "-0,3");
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    const struct {
        double value;
        double whole;
    } cases[] = {
        {0.5, 0},     {1.5, 2},     {2.5, 2},      {3.5, 4},     {146.815, 147},
        {150.5, 150}, {151.5, 152}, {-0.5, 0},     {-1.5, -2},   {-2.5, -2},
        {2.4999, 2},  {2.5001, 3},  {-2.5001, -3}, {1e20, 1e20}, {0.49999999999999994, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(round_half_even(c.value), c.whole) << c.value;
}

TEST(WholeNumberText, WritesEveryDigitWithoutExponent) {
    EXPECT_EQ(whole_number_text(147), "147");
    EXPECT_EQ(whole_number_text(-43), "-43");
    EXPECT_EQ(whole_number_text(-0.0), "0");
    EXPECT_EQ(whole_number_text(1e20), "100000000000000000000");
    EXPECT_EQ(whole_number_text(1e300).size(), 301u);
    EXPECT_EQ(whole_number_text(-1e300).substr(0, 3), "-10");
}

TEST(BoxNumber, ReadsTheLocaleSeparatorAsWellAsThePoint) {
    const struct {
        const char* text;
        const char* point;
        double value;
    } cases[] = {
        {"985,3", ",", 985.3}, {"985.3", ",", 985.3},
        {"150,5", ".", 150},   {"150.5", ".", 150.5},
        {"-", ",", 0},         {"", ",", 0},
        {"1,2,3", ",", 1.2},   {"12\u066B5", "\u066B", 12.5},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(box_number(c.text, c.point), c.value) << c.text;
}
