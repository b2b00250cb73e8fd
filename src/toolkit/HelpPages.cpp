#include "toolkit/HelpPages.h"

#include <algorithm>

#include "toolkit/Desktop.h"
#include "toolkit/FilePath.h"

namespace vantor {

std::optional<std::filesystem::path> FindHelpPage(const std::string& helpFile,
                                                  const std::vector<std::string>& folders,
                                                  const std::string& language) {
    namespace fs = std::filesystem;
    const std::string base = FilePathText(FilePath(helpFile).stem());
    if (base.empty()) return std::nullopt;
    std::vector<std::string> candidates;
    for (const std::string& lang : {language, std::string("Eng")})
        if (!lang.empty()) candidates.push_back(base + "." + lang + ".html");
    std::error_code ec;
    for (const std::string& folder : folders) {
        const fs::path dir = FilePath(folder);
        for (const std::string& name : candidates)
            if (fs::is_regular_file(dir / FilePath(name), ec))
                return fs::absolute(dir / FilePath(name), ec);
        // Any language's page rather than none.
        std::vector<std::string> any;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const std::string name = FilePathText(entry.path().filename());
            if (name.size() > base.size() + 6 && name.compare(0, base.size() + 1, base + ".") == 0 &&
                name.compare(name.size() - 5, 5, ".html") == 0)
                any.push_back(name);
        }
        if (!any.empty())
            return fs::absolute(dir / FilePath(*std::min_element(any.begin(), any.end())), ec);
    }
    return std::nullopt;
}

std::string HelpAnchor(unsigned command, unsigned long data) {
    if (command == HELP_CONTEXT) return "context-" + std::to_string(data);
    if (command == HELP_HELPONHELP) return "help-on-help";
    if (command == HELP_PARTIALKEY) return "index";
    return {};
}

} // namespace vantor
