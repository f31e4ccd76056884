// How the main window writes whole numbers into its boxes.
#pragma once

#include <string>

namespace main_window {

// A whole number as decimal digits with "-" when negative, however large: no exponent and no
// overflow. Non-finite values give empty text.
std::string whole_number_text(double whole);

} // namespace main_window
