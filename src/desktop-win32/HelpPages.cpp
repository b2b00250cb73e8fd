#include "desktop-win32/HelpPages.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>

#include "toolkit/FilePath.h"

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
    const std::filesystem::path named = FilePath(helpFile);
    const std::wstring base = named.stem().wstring();
    if (base.empty()) return std::nullopt;
    std::vector<std::wstring> candidates;
    for (const std::string& lang : {language, std::string("Eng")})
        if (!lang.empty()) candidates.push_back(base + L"." + FilePath(lang).wstring() + L".html");
    std::optional<std::filesystem::path> found;
    std::error_code ec;
    for (const std::string& folder : folders) {
        const std::filesystem::path dir = FilePath(folder);
        for (const std::wstring& name : candidates)
            if (std::filesystem::is_regular_file(dir / name, ec)) {
                found = dir / name;
                break;
            }
        if (!found) {
            // Any language's page rather than none.
            std::vector<std::filesystem::path> any;
            for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
                const std::wstring name = entry.path().filename().wstring();
                if (name.size() > base.size() + 6 &&
                    name.compare(0, base.size() + 1, base + L".") == 0 &&
                    name.compare(name.size() - 5, 5, L".html") == 0)
                    any.push_back(entry.path());
            }
            std::sort(any.begin(), any.end());
            if (!any.empty()) found = any.front();
        }
        if (found) break;
    }
    if (!found) return std::nullopt;
    HelpPage page{*found, FileUrl(*found)};
    if (command == HELP_CONTEXT)
        page.url += "#context-" + std::to_string(data);
    else if (command == HELP_HELPONHELP)
        page.url += "#help-on-help";
    else if (command == HELP_PARTIALKEY)
        page.url += "#index";
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
