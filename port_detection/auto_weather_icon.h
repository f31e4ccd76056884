#pragma once

#include <QIcon>

namespace port_detection {

// The dialog's window icon, 32 x 32: a chart panel crossed by a blue arch, with a shadow.
QIcon auto_weather_icon();

} // namespace port_detection
