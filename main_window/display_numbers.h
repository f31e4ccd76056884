// How the main window writes whole numbers into its boxes and reads numbers back.
#pragma once

#include <string>
#include <string_view>

namespace main_window {

// A whole number as decimal digits with "-" when negative, however large: no exponent and no
// overflow. Non-finite values give empty text.
std::string whole_number_text(double whole);

// The number in a box's text, as the user sees it: the locale's decimal separator `point`
// counts as well as ".", then the numeric text value rule reads it.
double box_number(std::string_view text, std::string_view point);

} // namespace main_window
