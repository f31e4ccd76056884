#include "picture.h"

#include <charconv>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>

namespace window_system {

namespace {

int next_number(std::string_view& text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc())
        throw std::invalid_argument("picture: bad header");
    text.remove_prefix(std::size_t(end - text.data()));
    return value;
}

} // namespace

Picture picture_from_xpm(const char* const* rows) {
    std::string_view header = rows[0];
    Picture p;
    p.width = next_number(header);
    p.height = next_number(header);
    const int colour_count = next_number(header);
    std::map<char, std::uint32_t> palette;
    for (int i = 1; i <= colour_count; ++i) {
        const std::string_view line = rows[i];
        const auto hash = line.find('#');
        std::uint32_t colour = 0; // "None": transparent
        if (hash != std::string_view::npos) {
            std::from_chars(line.data() + hash + 1, line.data() + line.size(), colour, 16);
            colour |= 0xFF000000u;
        }
        palette[line[0]] = colour;
    }
    p.argb.reserve(std::size_t(p.width) * std::size_t(p.height));
    for (int y = 0; y < p.height; ++y) {
        const char* row = rows[1 + colour_count + y];
        if (std::strlen(row) != std::size_t(p.width))
            throw std::invalid_argument("picture: a row of the wrong width");
        for (int x = 0; x < p.width; ++x)
            p.argb.push_back(palette.count(row[x]) ? palette[row[x]] : 0);
    }
    return p;
}

} // namespace window_system
