#pragma once
// The gateway's command line, read the same way on every system: --home
// DIR, --headless, --help, --version, and "/service" only as a whole
// argument.  Everything else ("/hide" and the like) is left to the main
// window, which reads the arguments itself.
#include <string>
#include <vector>

namespace vantor {

struct CommandLine {
    std::vector<std::string> arguments; // as given, the program first
    std::string raw;                    // the arguments joined by blanks
    std::string home;                   // --home, empty when not given
    bool headless = false;
    bool service = false;
    bool help = false;
    bool version = false;
    std::string error; // why the line cannot be used (exit status 2)
};

// `arguments` holds the program's name first, as argv does.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The gateway's folder as chosen at start, or why none could be.
struct HomeChoice {
    std::string folder;
    std::string error;
};

// The folder `--home DIR` names: absolute, without a trailing separator
// ("dir/" and "dir/." name the folder itself), or an error when it is none.
HomeChoice HomeFromArgument(const std::string& homeArgument);

// The folders in their order, each once, empty ones left out: where the
// language files are looked for.
std::vector<std::string> DistinctFolders(const std::vector<std::string>& candidates);

} // namespace vantor
