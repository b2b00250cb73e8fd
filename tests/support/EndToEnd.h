#pragma once
// Small helpers shared by the end-to-end tests of the real gateway binary.
#include "Process.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantor::test {

// The gateway binary in the build directory.
std::string GatewayProgram();

// A temporary gateway folder (removed again) and the gateway started in it,
// headless: `vantor --home <folder> --headless`.
class GatewayHome {
public:
    GatewayHome();
    ~GatewayHome();
    GatewayHome(const GatewayHome&) = delete;
    GatewayHome& operator=(const GatewayHome&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void WriteIni(const std::string& text) const;
    std::string Read(const std::string& name) const;
    std::unique_ptr<Process> Start(std::vector<std::string> extra = {}) const;

private:
    std::filesystem::path path_;
};

// Polls `done` every 50 ms until it holds or the time is up; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();
// A "Texty" text of the shipped English language file, as the headless log
// prints it (UTF-8).
std::string EnglishText(int number);

} // namespace vantor::test
