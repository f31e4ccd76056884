// Names from the system as UTF-8: valid text stays, every byte of a broken sequence becomes
// U+FFFD, NULs stay.
#include "system_text.h"

#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;

TEST(SystemText, ValidUtf8StaysAndEveryInvalidByteIsReplaced) {
    const std::string bad = "\xEF\xBF\xBD"; // U+FFFD
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"COM3\0"s, "COM3\0"s},
        {"pts/3\0x"s, "pts/3\0x"s},
        {"\xC3\x87\xC3\xA0 \xC3\xBC\xE2\x82\xAC", "\xC3\x87\xC3\xA0 \xC3\xBC\xE2\x82\xAC"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},    // four bytes
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},    // U+10FFFF, the last one
        {"\xED\x9F\xBF", "\xED\x9F\xBF"},            // U+D7FF, just below the surrogates
        {"COM\xBA", "COM" + bad},                    // Latin-1, not UTF-8
        {"\x80", bad},                               // a stray continuation byte
        {"\xE2\x82", bad + bad},                     // cut at the end
        {"\xE2\x82\x41", bad + bad + "A"},           // cut by another character
        {"\xC0\xAF", bad + bad},                     // overlong
        {"\xE0\x9F\xBF", bad + bad + bad},           // overlong
        {"\xF0\x8F\xBF\xBF", bad + bad + bad + bad}, // overlong
        {"\xED\xA0\x80", bad + bad + bad},           // a surrogate
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // beyond U+10FFFF
        {"\xF5\xFE\xFF", bad + bad + bad},           // never in UTF-8
        {"\xC3\xC3\xA9", bad + "\xC3\xA9"},          // a lead byte, then a whole one
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::utf8_from_system(c.in), c.out) << testing::PrintToString(c.in);
}
