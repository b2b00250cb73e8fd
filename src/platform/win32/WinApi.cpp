#include "platform/win32/WinApi.h"

#include <mutex>

namespace vantor::win32 {
namespace {

constexpr UINT kGatewayCodePage = 1250;

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), n);
    return wide;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    // Windows-1250 takes no "best fit" replacements (a Cyrillic letter must
    // not come back as a Latin look-alike): what it has no code for is '?'.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr,
                                        nullptr);
    std::string narrow(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(codePage, flags, text.data(), length, narrow.data(), n, nullptr,
                              nullptr);
    return narrow;
}

} // namespace

std::wstring Wide(std::string_view cp1250) { return ToWide(kGatewayCodePage, cp1250); }
std::string Narrow(std::wstring_view utf16) { return FromWide(kGatewayCodePage, utf16); }
std::wstring WideFromUtf8(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string Utf8FromWide(std::wstring_view utf16) { return FromWide(CP_UTF8, utf16); }

namespace {

std::wstring SystemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) text = L"Unknown error " + std::to_wstring(error);
    return text;
}

} // namespace

std::string ErrorText(DWORD error) { return Narrow(SystemText(error)); }
std::string ErrorTextUtf8(DWORD error) { return Utf8FromWide(SystemText(error)); }

bool StartWinsock(std::string* why) {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data{};
        result = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (result != 0 && why) *why = ErrorText(static_cast<DWORD>(result));
    return result == 0;
}

UniqueHandle MakeEvent(bool manualReset) {
    return UniqueHandle(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

} // namespace vantor::win32
