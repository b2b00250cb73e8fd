#pragma once
// A whole gateway on a virtual clock, built the one way the program builds it
// (the gateway core), with fakes only at its outer edges: an in-memory serial
// line, a listening socket without a network, the mail library's stand-in,
// an in-memory accounting file and a numbered language file ("[n]" for text
// n).  The gateway is made but not started: a test sets it going as far as
// it needs (Start() is the link's start: the initial requests and the tick).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Gateway.h"
#include "GatewayParts.h"
#include "toolkit/Controls.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/VirtualLoop.h"

#include "FakeAppender.h"
#include "FakeMailLibrary.h"
#include "FakePluginLibrary.h"
#include "FakeSerialDevice.h"
#include "FakeServerSocket.h"
#include "Frames.h"
#include "Recorders.h"
#include "TempFolder.h"

namespace vantor::test {

// Writes a language file TVantor.<code> into `folder` whose Texty text n
// reads "[n]" and whose Text n reads "{n}", for n up to 2100.
void WriteNumberedLanguageFile(const std::string& folder, const std::string& code = "Eng");

// The traffic log seen from outside: every line as label and text, and the
// status line, taken from the gateway's log list and status bar.
class LogTap : public RecordingLog {
public:
    void Attach(TrafficLog& log, TStatusBar& statusBar);
    // One list line, "HH:MM:SS.t  LABEL text".
    void Take(const std::string& line);
};

class GatewayTest : public ::testing::Test, public GatewayWindow {
protected:
    GatewayTest();
    ~GatewayTest() override;

    // The link's own start: the initial request set and TimerTick.
    void Start();
    // n firings of TimerTick (Interval 100 ms).
    void Ticks(int n) { loop.advance(100 * static_cast<std::int64_t>(n)); }
    // Frames written to the line so far, as (sequence, payload).
    const std::vector<std::pair<std::uint8_t, Bytes>>& Packets();
    const Bytes& LastPayload() { return Packets().back().second; }
    // The exchange answers the last packet / the packet under `sequence`.
    void ReplyLast(Bytes payload);
    void Reply(std::uint8_t sequence, Bytes payload);
    // Loads the mail library's stand-in and opens its connection, so that
    // traps go out; Traps() lists them (1 lost, 2 restored).
    void BindMail();
    std::vector<int> Traps() const;
    // Loads the plug-in's stand-in and starts it.
    void StartPlugin();

    // GatewayWindow
    void TranslateWindow(TLanguageTable&) override { ++translations; }
    bool AddTrayIcon() override {
        ++trayAttempts;
        return trayIcon();
    }

    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    TempFolder home;
    TComponent owner{nullptr};
    TListBox logList{&owner};
    TStatusBar statusBar{&owner};
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    FakeServerSocket* server = nullptr; // owned by the gateway
    AppendLog appends;
    LogTap log;
    int translations = 0;
    int trayAttempts = 0;
    // Whether adding the tray icon succeeds now (default: no tray).
    std::function<bool()> trayIcon = [] { return false; };
    std::unique_ptr<Gateway> gateway;
    // The parts, as the tests use them.
    GatewayParts parts;
    Settings& settings;
    ExchangeLink& link;
    TDataStore& store;

private:
    static std::unique_ptr<Gateway> MakeGateway(GatewayTest& test);
    std::vector<std::pair<std::uint8_t, Bytes>> packets_;
};

} // namespace vantor::test
