#include "SimProcess.h"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <fstream>

namespace vantor::test {

namespace {

ProcessOptions SimOptionsFor(std::vector<std::string> args) {
    ProcessOptions o;
    o.args = std::move(args);
    o.echoPrefix = "vantor-sim";
    return o;
}

std::string LogPathIn(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--log" && i + 1 < args.size()) return args[i + 1];
        if (args[i].starts_with("--log=")) return args[i].substr(6);
    }
    return {};
}

} // namespace

std::string SimProcess::DefaultProgram() {
    if (const char* env = std::getenv("VANTOR_SIM"); env && *env) return env;
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "vantor-sim";
    std::string path(self, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "vantor-sim";
}

SimProcess::SimProcess(std::vector<std::string> args, std::string program, Millis readyTimeout)
    : process_(program.empty() ? DefaultProgram() : program, SimOptionsFor(args)),
      logPath_(LogPathIn(args)) {
    static const std::regex ready(R"(^READY (\S+))");
    auto line = process_.WaitForLineAfter(replyCursor_, ready, readyTimeout);
    if (!line) {
        std::string err = process_.Output(Process::Stream::Stderr);
        throw ProcessError("vantor-sim did not become ready" + (err.empty() ? "" : ": " + err));
    }
    device_ = line->substr(6);
    eventCursor_ = replyCursor_;
}

std::string SimProcess::Command(std::string_view line, Millis timeout) {
    static const std::regex answer(R"(^(OK|ERR|STATUS)\b)");
    if (!process_.WriteLine(line)) return {};
    return process_.WaitForLineAfter(replyCursor_, answer, timeout).value_or("");
}

std::map<std::string, std::string> SimProcess::Status(Millis timeout) {
    std::map<std::string, std::string> fields;
    std::string line = Command("status", timeout);
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t end = line.find(' ', i);
        if (end == std::string::npos) end = line.size();
        std::string word = line.substr(i, end - i);
        if (auto eq = word.find('='); eq != std::string::npos)
            fields[word.substr(0, eq)] = word.substr(eq + 1);
        i = end + 1;
    }
    return fields;
}

std::uint64_t SimProcess::StatusValue(std::string_view key, Millis timeout) {
    auto fields = Status(timeout);
    auto it = fields.find(std::string(key));
    if (it == fields.end()) return 0;
    std::uint64_t v = 0;
    std::from_chars(it->second.data(), it->second.data() + it->second.size(), v);
    return v;
}

bool SimProcess::WaitForEvent(std::string_view text, Millis timeout) {
    const std::string wanted = "EVENT " + std::string(text);
    return process_.WaitForLineAfter(eventCursor_, std::string_view(wanted), timeout).has_value();
}

bool SimProcess::HasEvent(std::string_view text) const {
    return process_.HasLine("EVENT " + std::string(text));
}

std::uint64_t SimProcess::LastRecordEvent() const {
    const auto lines = process_.Lines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->rfind("EVENT record ", 0) != 0) continue;
        std::uint64_t n = 0;
        std::from_chars(line->data() + 13, line->data() + line->size(), n);
        return n;
    }
    return 0;
}

int SimProcess::Quit(Millis timeout) {
    process_.WriteLine("quit");
    auto status = process_.WaitExit(timeout);
    return status ? Process::ExitCode(*status) : -1;
}

std::vector<std::string> SimProcess::LogLines() const {
    std::vector<std::string> lines;
    if (logPath_.empty()) return lines;
    std::ifstream in(logPath_);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

} // namespace vantor::test
