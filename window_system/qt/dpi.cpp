// The model's twips as pixels: the backend lays everything out at 96 dpi.
#include "dpi.h"

namespace window_system::qt {

int px(Twips twips) {
    return to_pixels(twips);
}

QRect pixels(const Rect& r) {
    return QRect(px(r.left), px(r.top), px(r.width), px(r.height));
}

} // namespace window_system::qt
