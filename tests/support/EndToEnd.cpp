#include "EndToEnd.h"

#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"

#include <fstream>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor::test {

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string EnglishText(int number) {
    TIniFile file(std::string(VANTOR_BUILD_DIR) + "/TVantor.Eng");
    return Utf8FromCp1250(file.ReadString("Texty", std::to_string(number), ""));
}

std::string GatewayProgram() { return std::string(VANTOR_BUILD_DIR) + "/vantor"; }

GatewayHome::GatewayHome() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("vantor-e2e-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

GatewayHome::~GatewayHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void GatewayHome::WriteIni(const std::string& text) const {
    std::ofstream(path_ / "vantor.INI", std::ios::binary) << text;
}

std::string GatewayHome::Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<Process> GatewayHome::Start(std::vector<std::string> extra) const {
    ProcessOptions options;
    options.args = {"--home", path_.string(), "--headless"};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    options.echoPrefix = "vantor";
    return std::make_unique<Process>(GatewayProgram(), options);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace vantor::test
