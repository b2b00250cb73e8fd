#pragma once
// Command line of vantor-sim: what the simulated exchange answers and which
// faults it plays, where it links the line and where it logs.
#include "ExchangeModel.h"
#include "SimSession.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantor::sim {

struct SimOptions {
    ModelConfig model;
    FaultConfig faults;
    LineConfig line;
    std::string link;    // symlink to the line's device, made at start and removed at exit
    std::string logPath; // one line per request and reply; "-" is stderr
    bool help = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options; // empty on error
    std::string error;
};

// Arguments without the program name.  Accepts "--name value" and "--name=value".
ParsedOptions ParseCommandLine(std::span<const std::string_view> args);
std::string Usage(std::string_view program);

} // namespace vantor::sim
