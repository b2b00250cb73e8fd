#include "app/CommandLine.h"

#include <algorithm>
#include <filesystem>

#include "toolkit/FilePath.h"

namespace vantor {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine cl;
    cl.arguments = arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i) cl.raw += ' ';
        cl.raw += arguments[i];
    }
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--version") {
            cl.version = true;
        } else if (arg == "--headless") {
            cl.headless = true;
        } else if (arg == "--home") {
            if (i + 1 >= arguments.size()) {
                cl.error = "--home needs a folder";
            } else {
                cl.home = arguments[++i];
            }
        } else if (arg.rfind("--home=", 0) == 0) {
            cl.home = arg.substr(7);
        } else if (arg.rfind("--", 0) == 0) {
            cl.error = "unknown option " + arg;
        } else if (arg == "/service") {
            // Only as a whole argument, as "/hide" is read: paths are written
            // with '/' on Linux, so `--home /srv/services/pbx` or a program
            // installed under such a folder would otherwise start as the
            // service.
            cl.service = true;
        }
    }
    return cl;
}

HomeChoice HomeFromArgument(const std::string& homeArgument) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path given = FilePath(homeArgument);
    if (!fs::is_directory(given, ec)) return {{}, "--home " + homeArgument + ": not a folder"};
    fs::path folder = fs::absolute(given, ec).lexically_normal();
    if (!folder.has_filename() && folder != folder.root_path()) folder = folder.parent_path();
    return {FilePathText(folder), {}};
}

std::vector<std::string> DistinctFolders(const std::vector<std::string>& candidates) {
    std::vector<std::string> folders;
    for (const std::string& folder : candidates)
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    return folders;
}

} // namespace vantor
