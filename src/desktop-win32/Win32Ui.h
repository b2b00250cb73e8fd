#pragma once
// What every part of the Win32 view shares: the system's headers, texts
// across the API edge (the model is Windows-1250, the API UTF-16), the
// fonts and colours the model names, the program's icon, the window classes
// of the view's own windows, how a window passes its children's
// notifications to their views, and how the gateway keeps running while the
// system runs a modal loop of its own.
//
// Include this header first: the toolkit names the system's constants
// (MB_OK, IDOK, WM_LBUTTONDBLCLK, ...) and its Desktop has a MessageBox,
// which <windows.h> makes macros of; the toolkit's headers come before it,
// and the constants then read as the system's macros of the same values.
#include "toolkit/Controls.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"

#include "platform/win32/WinApi.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <string_view>

#undef MessageBox

namespace vantor {
class Win32Loop;
}

namespace vantor::win32view {

using win32::Narrow;
using win32::Wide;

// The model's captions use '&' for the mnemonic as Win32 does: they pass as
// they are.  A hint "short|long": the part before or after the bar; a hint
// without a bar is both.
std::string ShortHint(std::string_view hint);
std::string LongHint(std::string_view hint);

// The font of the forms' layout (an 11-pixel sans-serif; Tahoma on Windows
// through "MS Shell Dlg 2") and any font a control asks for, made once.  A
// fixed-pitch face that is missing falls back to another fixed-pitch one.
HFONT FontFor(const TFont& font);
// A model colour as the system's (system colours resolved).
COLORREF ColorRef(TColor color);
// A solid brush of that colour, made once.
HBRUSH BrushFor(TColor color);

// The program's icon (a blue tile with a white V), drawn at that size.
HICON ProgramIcon(int size);
// The picture a model names ("vantor"); null for a name it does not know.
HICON PictureIcon(const std::string& name, int size);

// The view's own window classes (registered once per process).
inline constexpr wchar_t FormClass[] = L"TarvoVantorForm";
inline constexpr wchar_t PaneClass[] = L"TarvoVantorPane";
inline constexpr wchar_t TrayClass[] = L"TarvoVantorTray";
void RegisterWindowClasses(WNDPROC formProc, WNDPROC trayProc);

// Messages of the view's own.
inline constexpr UINT WM_VIEW_RECONCILE = WM_APP + 1;     // controls came or went
inline constexpr UINT WM_VIEW_DESTROY_LATER = WM_APP + 2; // a child window whose control went
inline constexpr UINT WM_VIEW_MENU_CHANGED = WM_APP + 3;  // rebuild the menu bar
inline constexpr UINT WM_VIEW_PLAY = WM_APP + 4;          // tests and the tour act in a window

// A window of the view passes the notifications of its child controls
// (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR..., WM_DRAWITEM) to the views of
// those controls; true when one of them took it.
bool RouteFromChild(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// While it lives, the loop's tasks, timers and sockets keep running through
// a system modal loop (a message box, a menu, a window moved or sized, a
// common dialog) that pumps the messages itself: a thread timer serves them
// every 10 ms.  Nests; the timer goes with the outermost.
class ScopedLoopPump {
public:
    explicit ScopedLoopPump(Win32Loop& loop);
    ~ScopedLoopPump();
    ScopedLoopPump(const ScopedLoopPump&) = delete;
    ScopedLoopPump& operator=(const ScopedLoopPump&) = delete;

private:
    Win32Loop* previous_;
};

} // namespace vantor::win32view
