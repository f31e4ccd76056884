// Whole numbers as the main window writes them, and the locale-aware reading of its boxes.
#include "display_numbers.h"
#include "numeric_text.h"

#include <gtest/gtest.h>

using namespace main_window;

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
        EXPECT_DOUBLE_EQ(weather::box_number(c.text, c.point), c.value) << c.text;
}
