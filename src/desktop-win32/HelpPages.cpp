#include "desktop-win32/HelpPages.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>

#include "toolkit/HelpPages.h"

namespace vantor::win32view {

namespace {

std::string FileUrl(const std::filesystem::path& file) {
    std::wstring path = std::filesystem::absolute(file).wstring();
    std::replace(path.begin(), path.end(), L'\\', L'/');
    const std::string utf8 = win32::Utf8FromWide(path);
    std::string url = "file:///";
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : utf8) {
        if (std::isalnum(c) || c == '/' || c == ':' || c == '-' || c == '.' || c == '_' ||
            c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 0xF];
        }
    }
    return url;
}

} // namespace

std::optional<HelpPage> FindHelpPage(unsigned command, unsigned long data,
                                     const std::string& helpFile,
                                     const std::vector<std::string>& folders,
                                     const std::string& language) {
    const std::optional<std::filesystem::path> found =
        vantor::FindHelpPage(helpFile, folders, language);
    if (!found) return std::nullopt;
    HelpPage page{*found, FileUrl(*found)};
    if (const std::string anchor = HelpAnchor(command, data); !anchor.empty())
        page.url += "#" + anchor;
    return page;
}

bool OpenInBrowser(const std::string& url) {
    const std::wstring target = Wide(url);
    wchar_t browser[MAX_PATH * 2] = L"";
    DWORD size = static_cast<DWORD>(std::size(browser));
    if (SUCCEEDED(::AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_EXECUTABLE, L"http", L"open", browser,
                                      &size)) &&
        browser[0]) {
        const std::wstring argument = L"\"" + target + L"\"";
        if (reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", browser, argument.c_str(),
                                                      nullptr, SW_SHOWNORMAL)) > 32)
            return true;
    }
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr,
                                                     nullptr, SW_SHOWNORMAL)) > 32;
}

} // namespace vantor::win32view
