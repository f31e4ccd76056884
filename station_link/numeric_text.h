// The one rule by which the program reads a number from text, and the one conversion of such a
// number to a port number.
#pragma once

#include <cstdint>
#include <string_view>

namespace weather {

// The leading number of `text`: blanks, tabs and line feeds are skipped wherever they stand;
// then an optional sign, digits with at most one "." (whatever the locale) and an optional
// exponent (E or D in either case, an optional sign, digits; a letter without digits is not
// part of the number). Parsing stops at the first other character; text without a leading
// number gives 0. A number too large for a double gives infinity, one too small gives 0.
double numeric_value(std::string_view text);

// The number in a text box as the user sees it: the locale's decimal separator `point` counts
// as well as ".", then numeric_value reads it.
double box_number(std::string_view text, std::string_view point);

// The nearest integer, halves to the even one (-0.5 gives -0), whatever rounding mode the
// processor is set to. Infinities and NaN come back as they are.
double round_half_even(double value);

// A number as a signed 16-bit port number: round_half_even. Numbers that do not fit (and NaN)
// give 0, "no port".
std::int16_t to_port_number(double value);

} // namespace weather
