// A graph control's child window: paints the primitives of its plot in the form's font, off
// the screen first so that a tick's repaint does not flicker, and puts the reading under the
// pointer in its tooltip. It never takes the focus.
#include "window.h"

#include "text.h"

#include <windowsx.h>

namespace window_system::win32 {

LRESULT CALLBACK Window::graph_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(GetParent(hwnd), GWLP_USERDATA));
    switch (msg) {
    case WM_ERASEBKGND:
        return 1; // the paint fills every pixel
    case WM_PAINT: {
        PAINTSTRUCT ps{};
        const HDC dc = BeginPaint(hwnd, &ps);
        if (window)
            window->paint_graph(hwnd, dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (window)
            window->point_at(hwnd, GET_X_LPARAM(lp));
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

Canvas Window::canvas_of(HWND child, HDC dc) const {
    RECT r{};
    GetClientRect(child, &r);
    TEXTMETRICW metrics{};
    const HGDIOBJ old = SelectObject(dc, backend_.gdi_.font(form_.font, dpi_));
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    return {r.right, r.bottom, int(metrics.tmHeight), std::max(1, int(metrics.tmAveCharWidth))};
}

void Window::paint_graph(HWND child, HDC dc) {
    const Control* control = control_of(child);
    if (!control || control->kind() != Control::Kind::graph)
        return;
    const Canvas canvas = canvas_of(child, dc);
    const HDC memory = CreateCompatibleDC(dc);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, canvas.width, canvas.height);
    const HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
    const HGDIOBJ old_font = SelectObject(memory, backend_.gdi_.font(form_.font, dpi_));
    const RECT all{0, 0, canvas.width, canvas.height};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(memory, TRANSPARENT);
    const HGDIOBJ old_pen = SelectObject(memory, GetStockObject(DC_PEN));
    for (const Primitive& p : draw(static_cast<const Graph*>(control)->plot(), canvas)) {
        if (p.kind == Primitive::Kind::line) {
            SetDCPenColor(memory, COLORREF(p.colour));
            MoveToEx(memory, p.x1, p.y1, nullptr);
            LineTo(memory, p.x2, p.y2);
            SetPixel(memory, p.x2, p.y2, COLORREF(p.colour)); // LineTo leaves out the last pixel
            continue;
        }
        const std::wstring text = widen(p.text);
        SetTextColor(memory, COLORREF(p.colour));
        SetTextAlign(memory, TA_TOP | (p.right_aligned ? TA_RIGHT : TA_LEFT));
        TextOutW(memory, p.x1, p.y1, text.c_str(), int(text.size()));
    }
    BitBlt(dc, 0, 0, canvas.width, canvas.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old_pen);
    SelectObject(memory, old_font);
    SelectObject(memory, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

void Window::point_at(HWND child, int x) {
    const Control* control = control_of(child);
    if (!control || control->kind() != Control::Kind::graph)
        return;
    const HDC dc = GetDC(child);
    const Canvas canvas = canvas_of(child, dc);
    ReleaseDC(child, dc);
    set_tooltip(child, describe_at(static_cast<const Graph*>(control)->plot(), canvas, x));
}

} // namespace window_system::win32
