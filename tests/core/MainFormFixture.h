#pragma once
// A whole gateway on a virtual loop: the real main window with a scripted
// desktop, an in-memory serial line and a listening socket that only
// pretends, in a temporary home folder with the shipped language files.
#include "core/MainForm.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystemDirectories.h"
#include "platform/PosixFileAppender.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFile.h"
#include "toolkit/ServerSocket.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

#include "FakeSerialDevice.h"
#include "FakeServerSocket.h"
#include "Frames.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vantor::test {

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest() {
        std::random_device rd;
        home = std::filesystem::temp_directory_path() /
               ("vantor-mainform-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(home);
        loop.setWallClock(45000.5);
    }
    ~MainFormTest() override {
        form.reset();
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }

    std::string IniPath() const { return (home / "vantor.INI").string(); }
    void WriteIni(const std::string& text) { std::ofstream(IniPath(), std::ios::binary) << text; }
    std::string ReadIni() const {
        std::ifstream in(IniPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    GatewayEnvironment Environment(std::vector<std::string> args = {}) {
        GatewayEnvironment env;
        env.arguments = {"vantor"};
        env.arguments.insert(env.arguments.end(), args.begin(), args.end());
        env.programPath = (home / "vantor").string();
        env.languageFolders = {home.string(), VANTOR_BUILD_DIR};
        env.serviceRunningElsewhere = serviceElsewhere;
        env.serialDevices = [this] { return serialDevices; };
        env.serialDeviceFactory = [this](const std::string& name) {
            openedDevices.push_back(name);
            if (serialFails) return SerialOpenResult{nullptr, ENOENT};
            return SerialOpenResult{std::make_unique<FakeSerialDevice>(line), 0};
        };
        env.serverSocketFactory = [this](TComponent* owner) {
            auto socket = std::make_unique<FakeServerSocket>(owner);
            socket->refuse = serverFails;
            server = socket.get();
            return socket;
        };
        env.fileAppenderFactory = [] { return MakeFileAppender(); };
        // The outside libraries as the program loads them: from the gateway's
        // folder (none there unless a test puts one in), then the system.
        env.libraryOpener = SystemLibraryOpener(home.string());
        env.directories = std::make_shared<FileSystemDirectories>();
        env.logMirror = [this](const std::string& text) { logLines.push_back(text); };
        return env;
    }

    TMainForm& Start(std::vector<std::string> args = {}) {
        form = std::make_unique<TMainForm>(app, Environment(std::move(args)));
        return *form;
    }

    // The log lines as label and text (the stamp cut off).
    std::vector<std::string> Labelled() const {
        std::vector<std::string> out;
        for (const std::string& l : logLines) out.push_back(l.size() > 12 ? l.substr(12) : l);
        return out;
    }
    bool Logged(const std::string& labelAndText) const {
        for (const std::string& l : Labelled())
            if (l == labelAndText) return true;
        return false;
    }

    bool LoggedPrefix(const std::string& start) const {
        for (const std::string& l : Labelled())
            if (l.rfind(start, 0) == 0) return true;
        return false;
    }

    // Frames the gateway wrote to the line so far, as (sequence, payload).
    std::vector<std::vector<std::uint8_t>> SentFrames() {
        std::vector<std::vector<std::uint8_t>> frames;
        for (auto& [sequence, payload] : DecodeFrames(line->takeOutput()))
            frames.push_back(Frame(sequence, std::move(payload)));
        return frames;
    }

    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    std::filesystem::path home;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::vector<std::string> openedDevices;
    std::vector<std::string> serialDevices; // what the port choice finds
    std::vector<std::string> logLines;
    FakeServerSocket* server = nullptr; // owned by the gateway
    bool serverFails = false;
    bool serialFails = false;
    bool serviceElsewhere = false;
    std::unique_ptr<TMainForm> form;
};

} // namespace vantor::test
