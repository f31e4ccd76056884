// The units the windows are laid out in: twips, colours as 0x00BBGGRR, fonts by name, points
// and weight. Backends turn them into pixels and their toolkit's colours and fonts.
#pragma once

#include <cstdint>
#include <string>

namespace window_system {

// 1/1440 inch: 15 twips are one pixel at 96 dots per inch.
using Twips = int;

// The nearest whole pixel of `twips` on a screen of `dpi` dots per inch, halves up.
constexpr int to_pixels(Twips twips, int dpi = 96) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 719) / 1440));
}

// Red in the low byte, then green, then blue.
using Colour = std::uint32_t;

constexpr Colour rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return Colour(red) | Colour(green) << 8 | Colour(blue) << 16;
}
constexpr std::uint8_t red_of(Colour c) {
    return c & 0xFF;
}
constexpr std::uint8_t green_of(Colour c) {
    return (c >> 8) & 0xFF;
}
constexpr std::uint8_t blue_of(Colour c) {
    return (c >> 16) & 0xFF;
}

// The colours both windows use.
namespace colours {
inline constexpr Colour black = rgb(0, 0, 0);
inline constexpr Colour red = rgb(255, 0, 0);
inline constexpr Colour green = rgb(0, 255, 0);
inline constexpr Colour grey = rgb(128, 128, 128);
inline constexpr Colour light_grey = rgb(192, 192, 192);
} // namespace colours

// A font by name, size and weight. The empty name stands for the system's dialog font, which is
// also the default of every window and control.
struct Font {
    std::string name;
    double points = 8;
    int weight = 400; // 700 is bold

    bool bold() const { return weight >= 600; }
    bool operator==(const Font&) const = default;
};

// Left, top, width and height in twips, from the top-left corner of the window's client area.
struct Rect {
    Twips left = 0;
    Twips top = 0;
    Twips width = 0;
    Twips height = 0;

    bool operator==(const Rect&) const = default;
};

} // namespace window_system
