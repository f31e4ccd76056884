// The model's twips as pixels: the backend lays everything out at 96 dpi.
#pragma once

#include "units.h"

#include <QRect>

namespace window_system::qt {

int px(Twips twips);
QRect pixels(const Rect& r);

} // namespace window_system::qt
