// A small picture with a transparency mask, as the windows' icons and status pictures are.
#pragma once

#include <cstdint>
#include <vector>

namespace window_system {

struct Picture {
    int width = 0;
    int height = 0;
    // Row by row from the top, 0xAARRGGBB; an alpha of 0 is transparent, anything else opaque.
    std::vector<std::uint32_t> argb;

    std::uint32_t at(int x, int y) const {
        return argb[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
    bool operator==(const Picture&) const = default;
};

// A picture drawn as text in the XPM layout: a header "width height colours 1", one line per
// colour ("<char> c #RRGGBB" or "<char> c None" for transparent), then one line of `width`
// characters per pixel row. Only that much of the layout is understood; the pictures are the
// program's own.
Picture picture_from_xpm(const char* const* rows);

} // namespace window_system
