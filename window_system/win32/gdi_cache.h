// The GDI objects made once and kept until the backend goes: one brush per colour, one font per
// name, size and weight, one icon per picture and size.
#pragma once

#include "picture.h"
#include "units.h"

#include <map>
#include <string>
#include <tuple>
#include <windows.h>

namespace window_system::win32 {

class GdiCache {
public:
    GdiCache() = default;
    ~GdiCache();
    GdiCache(const GdiCache&) = delete;
    GdiCache& operator=(const GdiCache&) = delete;

    HBRUSH brush(Colour colour);
    HFONT font(const Font& font, int dpi);
    HICON icon(const Picture& picture, int width, int height);

private:
    std::map<Colour, HBRUSH> brushes_;
    std::map<std::tuple<std::string, int, int>, HFONT> fonts_;
    std::map<std::tuple<const Picture*, int, int>, HICON> icons_;
};

} // namespace window_system::win32
