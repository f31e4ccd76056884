// render-icon SIZE FILE: writes the program's icon, the main window's connected picture, as a
// PNG of SIZE x SIZE pixels. Every picture pixel becomes a square block (no smoothing), so the
// menu shows the same crisp picture as the window's title bar; transparent pixels stay
// transparent. SIZE must be a whole multiple of the picture's 16 pixels, or the blocks would
// come out uneven.
#include "pictures.h"

#include <QImage>
#include <QString>

#include <charconv>
#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: render-icon SIZE FILE\n", stderr);
        return 2;
    }
    const QImage picture(main_window::connected_xpm);
    const std::string_view text = argv[1];
    int size = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (picture.isNull() || ec != std::errc{} || end != text.data() + text.size() || size <= 0 ||
        size > 1024 || size % picture.width() != 0 || picture.width() != picture.height()) {
        std::fprintf(stderr, "render-icon: %s is not a multiple of the %d-pixel picture\n", argv[1],
                     picture.width());
        return 2;
    }
    const QImage icon = picture.convertToFormat(QImage::Format_ARGB32)
                            .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "render-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
