// The GDI objects made once and kept until the backend goes: brushes, fonts and icons.
#include "gdi_cache.h"

#include "text.h"

#include <algorithm>
#include <cmath>

namespace window_system::win32 {

namespace {

// A raster face comes in a few fixed sizes, and text in it keeps one of them at any DPI: it is
// drawn by its TrueType twin, which scales.
const wchar_t* truetype_face(const wchar_t* face) {
    static const std::pair<const wchar_t*, const wchar_t*> twins[] = {
        {L"MS Sans Serif", L"Microsoft Sans Serif"},
    };
    for (const auto& [raster, truetype] : twins)
        if (lstrcmpiW(face, raster) == 0)
            return truetype;
    return face;
}

} // namespace

GdiCache::~GdiCache() {
    for (auto& [colour, brush] : brushes_)
        DeleteObject(brush);
    for (auto& [key, font] : fonts_)
        if (font)
            DeleteObject(font);
    for (auto& [key, icon] : icons_)
        if (icon)
            DestroyIcon(icon);
}

HBRUSH GdiCache::brush(Colour colour) {
    auto it = brushes_.find(colour);
    if (it == brushes_.end())
        it = brushes_.emplace(colour, CreateSolidBrush(COLORREF(colour & 0xFFFFFF))).first;
    return it->second;
}

// The point size in pixels at `dpi`, rounded to the nearest (13.5 points: 18 pixels at 96 dpi,
// 23 at 120). A named font is taken in the Western character set, as a TrueType face; the empty
// name is the dialog font.
HFONT GdiCache::font(const Font& f, int dpi) {
    const int height = -MulDiv(int(std::lround(f.points * 10)), dpi, 720);
    const int weight = std::clamp(f.weight, 1, 1000);
    const auto key = std::make_tuple(f.name, height, weight);
    auto it = fonts_.find(key);
    if (it == fonts_.end()) {
        const bool dialog = f.name.empty();
        const std::wstring name = widen(f.name);
        const wchar_t* face = dialog ? L"MS Shell Dlg 2" : truetype_face(name.c_str());
        const HFONT made = CreateFontW(
            height, 0, 0, 0, weight, FALSE, FALSE, FALSE, dialog ? DEFAULT_CHARSET : ANSI_CHARSET,
            dialog ? OUT_DEFAULT_PRECIS : OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
            DEFAULT_PITCH | FF_SWISS, face);
        it = fonts_.emplace(key, made).first;
    }
    return it->second;
}

// The picture at `width` x `height` pixels in blocks, unsmoothed: a 32-bit colour bitmap with
// its alpha, and a monochrome mask that is set where the picture is transparent.
HICON GdiCache::icon(const Picture& picture, int width, int height) {
    const auto key = std::make_tuple(&picture, width, height);
    if (const auto it = icons_.find(key); it != icons_.end())
        return it->second;
    HICON made = nullptr;
    if (width > 0 && height > 0 && picture.width > 0 && picture.height > 0 &&
        picture.argb.size() >= std::size_t(picture.width) * std::size_t(picture.height)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down, as the picture's rows are
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (colour && bits) {
            const std::size_t stride = std::size_t((width + 15) / 16 * 2); // rows of whole WORDs
            std::vector<BYTE> mask(stride * std::size_t(height), 0);
            auto* pixels = static_cast<std::uint32_t*>(bits);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t argb =
                        picture.at(x * picture.width / width, y * picture.height / height);
                    const bool opaque = (argb >> 24) != 0;
                    pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                        opaque ? 0xFF000000u | (argb & 0xFFFFFFu) : 0;
                    if (!opaque)
                        mask[std::size_t(y) * stride + std::size_t(x / 8)] |= BYTE(0x80 >> (x % 8));
                }
            if (const HBITMAP mono = CreateBitmap(width, height, 1, 1, mask.data())) {
                ICONINFO parts{};
                parts.fIcon = TRUE;
                parts.hbmMask = mono;
                parts.hbmColor = colour;
                made = CreateIconIndirect(&parts); // copies both bitmaps
                DeleteObject(mono);
            }
        }
        if (colour)
            DeleteObject(colour);
    }
    icons_.emplace(key, made);
    return made;
}

} // namespace window_system::win32
