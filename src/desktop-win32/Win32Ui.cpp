#include "desktop-win32/Win32Ui.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "desktop-win32/ControlWindows.h"
#include "platform/win32/Win32Loop.h"

namespace vantor::win32view {

std::string ShortHint(std::string_view hint) { return std::string(hint.substr(0, hint.find('|'))); }

std::string LongHint(std::string_view hint) {
    const std::size_t bar = hint.find('|');
    return std::string(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
}

// ------------------------------------------------------------------- fonts

namespace {

bool FixedPitchName(const std::string& name) {
    for (const char* fixed : {"Courier", "Mono", "Fixedsys", "Consolas", "Lucida Console"})
        if (name.find(fixed) != std::string::npos) return true;
    return false;
}

} // namespace

HFONT FontFor(const TFont& font) {
    static std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts;
    const std::string name = font.Name.empty() ? "MS Shell Dlg 2" : font.Name;
    const int height = font.Height > 0 ? font.Height : 11;
    auto key = std::make_tuple(name, height, font.Bold, font.Italic);
    auto it = fonts.find(key);
    if (it != fonts.end()) return it->second;
    LOGFONTW lf{};
    lf.lfHeight = -height; // the height of the characters, as the model gives it
    lf.lfWeight = font.Bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.Italic ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = FixedPitchName(name) ? (FIXED_PITCH | FF_MODERN) : DEFAULT_PITCH;
    const std::wstring face = Wide(name).substr(0, LF_FACESIZE - 1);
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    HFONT made = ::CreateFontIndirectW(&lf);
    if (!made) made = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    fonts.emplace(std::move(key), made);
    return made;
}

COLORREF ColorRef(TColor color) {
    if (IsSystemColor(color)) return ::GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

HBRUSH BrushFor(TColor color) {
    if (IsSystemColor(color)) return ::GetSysColorBrush(static_cast<int>(color & 0xFF));
    static std::map<TColor, HBRUSH> brushes;
    auto [it, made] = brushes.try_emplace(color, nullptr);
    if (made) it->second = ::CreateSolidBrush(ColorRef(color));
    return it->second;
}

// -------------------------------------------------------------------- icon

namespace {

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// A handset-blue tile with rounded corners and a white V, readable at 16
// pixels in a notification area; 4x4 samples a pixel for smooth edges.
HICON DrawProgramIcon(int size) {
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = size;
    header.bV5Height = -size; // top-down
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP color = ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    if (!color || !bits) return ::LoadIconW(nullptr, IDI_APPLICATION);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    const double s = size, radius = s * 0.18, stroke = s * 0.13 / 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double tile = 0, white = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
                    // Inside the rounded square?
                    const double cx = std::clamp(px, radius, s - radius);
                    const double cy = std::clamp(py, radius, s - radius);
                    if (std::hypot(px - cx, py - cy) > radius) continue;
                    tile += 1;
                    const double d =
                        std::min(SegmentDistance(px, py, s * 0.2, s * 0.22, s * 0.5, s * 0.8),
                                 SegmentDistance(px, py, s * 0.5, s * 0.8, s * 0.8, s * 0.22));
                    if (d <= stroke) white += 1;
                }
            const double alpha = tile / 16, w = tile > 0 ? white / tile : 0;
            const double g = s > 1 ? y / (s - 1) : 0;
            auto mix = [&](int top, int bottom) {
                const double blue = top + (bottom - top) * g;
                return static_cast<std::uint32_t>(std::lround(blue + (255 - blue) * w));
            };
            pixels[y * size + x] = static_cast<std::uint32_t>(std::lround(alpha * 255)) << 24 |
                                   mix(0x2a, 0x12) << 16 | mix(0x6f, 0x3e) << 8 | mix(0xc9, 0x7c);
        }
    std::vector<BYTE> maskBits(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
    HBITMAP mask = ::CreateBitmap(size, size, 1, 1, maskBits.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = color;
    info.hbmMask = mask;
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(color);
    ::DeleteObject(mask);
    return icon ? icon : ::LoadIconW(nullptr, IDI_APPLICATION);
}

} // namespace

HICON ProgramIcon(int size) {
    static std::map<int, HICON> icons;
    auto [it, made] = icons.try_emplace(size, nullptr);
    if (made) it->second = DrawProgramIcon(size);
    return it->second;
}

HICON PictureIcon(const std::string& name, int size) {
    return name == "vantor" ? ProgramIcon(size) : nullptr;
}

// ------------------------------------------------------------ window classes

namespace {

// Containers (group boxes, panels, pages, radio groups, images): they pass
// their children's notifications on and let their own view paint them.
LRESULT CALLBACK PaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (RouteFromChild(window, message, wParam, lParam, result)) return result;
    if (message == WM_LBUTTONDBLCLK) {
        if (ControlWindow* view = ControlWindow::FromHandle(window)) view->DoubleClicked();
        return 0;
    }
    if (message == WM_PAINT) {
        if (ControlWindow* view = ControlWindow::FromHandle(window)) {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(window, &ps);
            view->Paint(dc);
            ::EndPaint(window, &ps);
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void RegisterWindowClasses(WNDPROC formProc, WNDPROC trayProc) {
    static bool registered = false;
    if (registered) return;
    INITCOMMONCONTROLSEX common{sizeof common,
                                ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&common);
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.style = CS_DBLCLKS;
    form.lpfnWndProc = formProc;
    form.hInstance = instance;
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.hIcon = ProgramIcon(32);
    form.hIconSm = ProgramIcon(16);
    form.lpszClassName = FormClass;
    WNDCLASSEXW pane = form;
    pane.lpfnWndProc = PaneProc;
    pane.hIcon = pane.hIconSm = nullptr;
    pane.lpszClassName = PaneClass;
    WNDCLASSEXW tray = form;
    tray.lpfnWndProc = trayProc;
    tray.lpszClassName = TrayClass;
    if (!::RegisterClassExW(&form) || !::RegisterClassExW(&pane) || !::RegisterClassExW(&tray))
        throw std::runtime_error("the window classes cannot be registered: " +
                                 win32::ErrorTextUtf8(::GetLastError()));
    registered = true;
}

// ---------------------------------------------------------------- routing

bool RouteFromChild(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND: {
        const auto child = reinterpret_cast<HWND>(lParam);
        ControlWindow* view = child ? ControlWindow::FromHandle(child) : nullptr;
        if (!view) return false;
        view->Command(child, HIWORD(wParam));
        result = 0;
        return true;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        ControlWindow* view = header ? ControlWindow::FromHandle(header->hwndFrom) : nullptr;
        if (!view) return false;
        result = view->Notify(*header);
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX: {
        ControlWindow* view = ControlWindow::FromHandle(reinterpret_cast<HWND>(lParam));
        if (!view) return false;
        HBRUSH brush = view->Colors(reinterpret_cast<HDC>(wParam), message);
        if (!brush) return false;
        result = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        ControlWindow* view = item ? ControlWindow::FromHandle(item->hwndItem) : nullptr;
        if (!view) return false;
        view->DrawItem(*item);
        result = TRUE;
        return true;
    }
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        HWND child = item ? ::GetDlgItem(window, static_cast<int>(item->CtlID)) : nullptr;
        ControlWindow* view = child ? ControlWindow::FromHandle(child) : nullptr;
        if (!view) return false;
        view->MeasureItem(*item);
        result = TRUE;
        return true;
    }
    default: return false;
    }
}

// ------------------------------------------------------------------ pump

namespace {

thread_local Win32Loop* pumpedLoop = nullptr;
thread_local UINT_PTR pumpTimer = 0;

void CALLBACK ServeLoop(HWND, UINT, UINT_PTR, DWORD) {
    if (Win32Loop* loop = pumpedLoop) loop->processEventsWithoutMessages();
}

} // namespace

ScopedLoopPump::ScopedLoopPump(Win32Loop& loop) : previous_(pumpedLoop) {
    pumpedLoop = &loop;
    if (!pumpTimer) pumpTimer = ::SetTimer(nullptr, 0, 10, ServeLoop);
}

ScopedLoopPump::~ScopedLoopPump() {
    pumpedLoop = previous_;
    if (!pumpedLoop && pumpTimer) {
        ::KillTimer(nullptr, pumpTimer);
        pumpTimer = 0;
    }
}

} // namespace vantor::win32view
