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

} // namespace vantor
