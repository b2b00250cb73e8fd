#pragma once
// The Win32 and Winsock headers, and what every Win32 source of the platform
// needs beside them: texts across the API edge and the system's error texts.
// Only the .cpp files of platform/win32/ include this header; the headers the
// rest of the gateway sees stay free of <windows.h>.
//
// Texts: the gateway holds its texts, file names included, in 8-bit
// Windows-1250; the system takes UTF-16 (the ...W calls).  The conversion
// happens here, at that edge, and nowhere else.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace vantor::win32 {

// Windows-1250 <-> UTF-16.  A character Windows-1250 has no code for becomes '?'.
std::wstring Wide(std::string_view cp1250);
std::string Narrow(std::wstring_view utf16);
// UTF-8 <-> UTF-16, for the directory chooser, which speaks UTF-8.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view utf16);

// The system's text for an error code (FormatMessage), in Windows-1250,
// without the line end the system puts after it.
std::string ErrorText(DWORD error);
// The same in UTF-8, for texts the gateway keeps in UTF-8 (service errors).
std::string ErrorTextUtf8(DWORD error);

// Starts Winsock 2.2 for the process once; false (with the reason) when the
// system has no usable Winsock.  Never stopped: it lives as long as the process.
bool StartWinsock(std::string* why = nullptr);

// The one owner of a kernel handle (closed with CloseHandle).
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE h) noexcept : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != nullptr; }
    HANDLE release() noexcept { return std::exchange(h_, nullptr); }
    void reset(HANDLE h = nullptr) noexcept {
        if (h_) ::CloseHandle(h_);
        h_ = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
    }

private:
    HANDLE h_ = nullptr;
};

// A manual-reset (or auto-reset) event, not signalled at first.
UniqueHandle MakeEvent(bool manualReset);

} // namespace vantor::win32
