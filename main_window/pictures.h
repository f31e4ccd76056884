// The two status pictures, 16 x 16 in the 16-colour palette: a station cable through its
// connector, joined on green or pulled apart on red. "." is transparent.
#pragma once

#include "picture.h"

namespace main_window {

// clang-format off
inline const char* const connected_xpm[] = {
    "16 16 5 1",
    ". c None",
    "G c #00FF00",
    "d c #808080",
    "k c #000000",
    "l c #C0C0C0",
    "GGGGGGGGGGGGGGkk",
    "GGGGGGGGGGGGGkkk",
    "GGGGGGGGGGGGkkkG",
    "GGGGGGGGGGGkkkGG",
    "GGGGGGGGkkkkkGGG",
    "GGGGGG.klldkGGGG",
    "GGGGG.lllddkGGGG",
    "GGGGGklldddkGGGG",
    "GGGG.lldddkGGGGG",
    "GGGGklddddkGGGGG",
    "GGGGkdddkkGGGGGG",
    "GGGkkkkkGGGGGGGG",
    "GGkkkGGGGGGGGGGG",
    "GkkkGGGGGGGGGGGG",
    "kkkGGGGGGGGGGGGG",
    "kkGGGGGGGGGGGGGG",
};

inline const char* const disconnected_xpm[] = {
    "16 16 5 1",
    ". c None",
    "R c #FF0000",
    "d c #808080",
    "k c #000000",
    "l c #C0C0C0",
    "RRRRRRRRRRRRRRkk",
    "RRRRRRRRRRRRRkkk",
    "RRRRRRRRRRRRkkkR",
    "RRRRRRRRRkkkkkRR",
    "RRRRRRRR.llldkRR",
    "RRRRRRRR.lldddkR",
    "RRRRRRRRRkdddkRR",
    "RRRRRRRRRRkkkRRR",
    "RRRRRkkRRRRRRRRR",
    "RRRR.llkRRRRRRRR",
    "RRR.lldkRRRRRRRR",
    "RRRkdddkRRRRRRRR",
    "RRkkkkkRRRRRRRRR",
    "RkkkRRRRRRRRRRRR",
    "kkkRRRRRRRRRRRRR",
    "................",
};
// clang-format on

inline const window_system::Picture& connected_picture() {
    static const window_system::Picture picture = window_system::picture_from_xpm(connected_xpm);
    return picture;
}

inline const window_system::Picture& disconnected_picture() {
    static const window_system::Picture picture = window_system::picture_from_xpm(disconnected_xpm);
    return picture;
}

} // namespace main_window
