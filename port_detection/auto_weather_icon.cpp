#include "auto_weather_icon.h"

namespace port_detection {

namespace {

// A green 29 x 29 chart panel ruled by dotted dark-green lines every 10 pixels, crossed by a
// blue arch with a navy outline that rises from the bottom-left corner to a flat top right of
// the middle and falls to the right edge half-way down; a grey shadow three pixels wide lies
// down and to the right of the panel. Standard 16-colour palette; blanks are transparent.
const char* const icon_xpm[] = {
    "32 32 6 1",
    "  c None",
    "g c #00FF00",
    "d c #008000",
    "b c #0000FF",
    "n c #000080",
    "+ c #808080",
    "ggdgggggggggdgggggggggdgggggg   ",
    "ggggggggggggggggggggggggggggg   ",
    "ggdgggggggggdgggggggggdgggggg   ",
    "ggggggggggggnnnnnnnnnnnnnnggg+++",
    "ggdgggggggnnbbbbbbbbbbbbbbnng+++",
    "dgdgdgdgnnbbbbbbbbbbbbbbbbbbn+++",
    "ggdggggnnbbbbbbbbbbbbbbbbbbbb+++",
    "ggggggnbbbbbbbbbnnnnnnnbbbbbb+++",
    "ggdggnbbbbbbbnnnggggggdnnbbbb+++",
    "ggggnbbbbbbnnggggggggggggnnbb+++",
    "ggdnbbbbbbngdgggggggggdgggnbb+++",
    "ggnnbbbbbngggggggggggggggggnb+++",
    "ggnbbbbbngggdgggggggggdggggnb+++",
    "gnbbbbbnggggggggggggggggggggn+++",
    "gnbbbbngggggdgggggggggdgggggn+++",
    "nbbbbbngdgdgdgdgdgdgdgdgdgdgn+++",
    "nbbbbnggggggdgggggggggdgggggn+++",
    "nbbbbnggggggggggggggggggggggg+++",
    "bbbbngggggggdgggggggggdgggggg+++",
    "bbbbngggggggggggggggggggggggg+++",
    "bbbbngggggggdgggggggggdgggggg+++",
    "bbbnggggggggggggggggggggggggg+++",
    "bbbnggggggggdgggggggggdgggggg+++",
    "bbbnggggggggggggggggggggggggg+++",
    "bbbnggggggggdgggggggggdgggggg+++",
    "bbbndgdgdgdgdgdgdgdgdgdgdgdgd+++",
    "bbngggggggggdgggggggggdgggggg+++",
    "bbngggggggggggggggggggggggggg+++",
    "bbngggggggggdgggggggggdgggggg+++",
    "   +++++++++++++++++++++++++++++",
    "   +++++++++++++++++++++++++++++",
    "   +++++++++++++++++++++++++++++",
};

} // namespace

const window_system::Picture& auto_weather_icon() {
    static const window_system::Picture picture = window_system::picture_from_xpm(icon_xpm);
    return picture;
}

} // namespace port_detection
