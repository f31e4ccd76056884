#pragma once

#include "picture.h"

namespace port_detection {

// The dialog's window icon, 32 x 32: a chart panel crossed by a blue arch, with a shadow.
const window_system::Picture& auto_weather_icon();

} // namespace port_detection
