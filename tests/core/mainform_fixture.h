#pragma once
// A whole gateway on a virtual loop: the real main window with a scripted
// desktop, an in-memory serial line and a listening socket that only
// pretends, in a temporary home folder with the shipped language files.
#include "core/MainForm.h"
#include "core/ExchangeLink.h"
#include "nls/LanguageTable.h"
#include "serial/FakeSerialDevice.h"
#include "serial/FrameCodec.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFile.h"
#include "toolkit/ServerSocket.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vantor::test {

// A listening socket that opens without a network.
class FakeServerSocket final : public TServerSocket {
public:
    FakeServerSocket(TComponent* owner, int& opens, bool fails)
        : TServerSocket(owner), opens_(opens), fails_(fails) {}
    void Open() override {
        ++opens_;
        if (fails_) throw ESocketError("Address already in use", 98);
        SetActiveFlag(true);
    }
    void Close() override { SetActiveFlag(false); }
    int LocalPort() const override { return Active() ? Port() : 0; }
    int ActiveConnections() const override { return 0; }
    TCustomWinSocket* Connections(int) const override { return nullptr; }

private:
    int& opens_;
    bool fails_;
};

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
        env.serialDeviceFactory = [this](const std::string& name) {
            openedDevices.push_back(name);
            if (serialFails) return SerialOpenResult{nullptr, ENOENT};
            return SerialOpenResult{std::make_unique<FakeSerialDevice>(line), 0};
        };
        env.serverSocketFactory = [this](TComponent* owner) {
            return std::make_unique<FakeServerSocket>(owner, serverOpens, serverFails);
        };
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
        FrameDecoder decoder(4092);
        decoder.onPacket = [&](int count, const std::uint8_t* data) {
            frames.emplace_back(data, data + count);
        };
        decoder.feed(line->takeOutput());
        return frames;
    }

    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    std::filesystem::path home;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::vector<std::string> openedDevices;
    std::vector<std::string> logLines;
    int serverOpens = 0;
    bool serverFails = false;
    bool serialFails = false;
    bool serviceElsewhere = false;
    std::unique_ptr<TMainForm> form;
};

} // namespace vantor::test
