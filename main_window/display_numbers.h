// How the main window writes numbers into its boxes and reads them back.
#pragma once

#include <string>
#include <string_view>

namespace main_window {

// A reading in the pattern "0.0": at least one digit before the point, exactly one after it,
// rounded halves away from zero, "-" before a negative value. The rounding works on the
// shortest decimal text that gives back the float, so a reading sent as 2.35 (held as
// 2.3499999) shows as 2.4, as the station meant it. `point` replaces the ".".
std::string format_reading(float value, std::string_view point = ".");

// The nearest whole number, halves to the even neighbour; whatever the FPU's rounding mode.
double round_half_even(double value);

// A whole number as decimal digits with "-" when negative, however large: no exponent and no
// overflow. Non-finite values give empty text.
std::string whole_number_text(double whole);

// The number in a box's text, as the user sees it: the locale's decimal separator `point`
// counts as well as ".", then the numeric text value rule reads it.
double box_number(std::string_view text, std::string_view point);

} // namespace main_window
