#pragma once
// The Win32 loop, the Win32 desktop and an application on them, for the
// view's tests (under Wine on a virtual X server).  WhenBlocked() plays the
// user in the next modal window (dialog or message box) once it is on the
// screen; the helpers act on windows as a user's mouse and keyboard do.
#include "desktop-win32/Win32Ui.h" // first: see there

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "desktop-win32/FormWindow.h"
#include "desktop-win32/Win32Desktop.h"
#include "platform/win32/Win32Loop.h"

namespace vantor::test {

inline std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    ::GetWindowTextW(window, text, 1024);
    return text;
}

inline std::wstring W(const char* utf8) { return win32::WideFromUtf8(utf8); }

inline void Click(HWND window) { ::SendMessageW(window, BM_CLICK, 0, 0); }

// Typing, character by character (the control's own limits apply).
inline void Type(HWND edit, const std::wstring& text, bool replace = true) {
    if (replace) ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : text) ::SendMessageW(edit, WM_CHAR, c, 1);
}

// A key through the message queue, where the dialog keys and accelerators
// are seen.
inline void PostKey(HWND window, UINT key) {
    ::PostMessageW(window, WM_KEYDOWN, key, 1);
    ::PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// A click of the mouse at a point of a window's client area.
inline void ClickAt(HWND window, POINT at, bool twice = false) {
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::SendMessageW(window, WM_LBUTTONUP, 0, where);
    if (!twice) return;
    ::SendMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, where);
    ::SendMessageW(window, WM_LBUTTONUP, 0, where);
}

// The children of a window of one class (in the order the system lists them).
inline std::vector<HWND> ChildrenOf(HWND parent, const wchar_t* className) {
    struct Find {
        const wchar_t* name;
        std::vector<HWND> found;
    } find{className, {}};
    ::EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<Find*>(data);
            wchar_t name[64] = L"";
            ::GetClassNameW(child, name, 64);
            if (_wcsicmp(name, f->name) == 0) f->found.push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

class Win32DesktopFixture : public ::testing::Test {
protected:
    Win32Loop loop;
    win32view::Win32Desktop desktop{loop};
    TApplication app{loop, desktop};

    void WhenBlocked(std::function<void(HWND)> play) {
        desktop.BeforeBlockingWindow = [this, play](HWND window) {
            desktop.BeforeBlockingWindow = nullptr;
            play(window);
        };
    }
    win32view::FormWindow* WindowOf(const TForm& form) {
        desktop.FlushViews(); // what the window shows a moment later
        return desktop.WindowOf(form);
    }
    HWND HandleOf(const TForm& form, const TControl& control) {
        win32view::FormWindow* window = WindowOf(form);
        return window ? window->HandleOf(control) : nullptr;
    }
    // The windows as they are a moment after the model changed.
    void Sync() { desktop.FlushViews(); }
    // Serves the loop (and the windows) for about `ms` of real time.
    void Pass(int ms) {
        const auto end = loop.monotonicMs() + ms;
        do {
            loop.processEvents();
            ::Sleep(1);
        } while (loop.monotonicMs() < end);
    }
};

} // namespace vantor::test
