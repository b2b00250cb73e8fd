#pragma once
// The link cycle wired as the main window wires it: the real request queue,
// link, dispatcher and data store, with fakes for the serial port, the mail
// bridge, the relay and the log.  TimerTick runs on a virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "core/ExchangeLink.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "exchange/DataStore.h"
#include "exchange/ReplyDispatcher.h"
#include "toolkit/Component.h"
#include "toolkit/Timer.h"
#include "toolkit/VirtualLoop.h"

#include "../exchange/dispatch_fakes.h"

namespace vantor::testing_fakes {

class FakePort : public PacketPort {
public:
    bool IsOpen() const override { return open; }
    void WritePacket(std::uint8_t sequence, std::span<const std::uint8_t> payload) override {
        packets.emplace_back(sequence, Bytes(payload.begin(), payload.end()));
    }
    bool open = true;
    std::vector<std::pair<std::uint8_t, Bytes>> packets;
};

class LinkTest : public ::testing::Test {
protected:
    LinkTest() {
        hooks.onRestart = [this] { link.RestartShortsTimer(); };
    }

    void Start() {
        link.InitialRequestSet();
        link.TimerTick().SetEnabled(true);
    }
    // n firings of TimerTick (Interval 100 ms).
    void Ticks(int n) { loop.advance(100 * static_cast<std::int64_t>(n)); }
    // The exchange answers the last packet.
    void ReplyLast(Bytes payload) {
        ASSERT_FALSE(port.packets.empty());
        dispatcher.HandlePacket(Frame(port.packets.back().first, std::move(payload)));
    }
    void Reply(std::uint8_t sequence, Bytes payload) {
        dispatcher.HandlePacket(Frame(sequence, std::move(payload)));
    }
    const Bytes& LastPayload() { return port.packets.back().second; }

    VirtualLoop loop;
    Settings settings;
    RecordingLog log;
    NumberTexts texts;
    FakePort port;
    FakeMail mail;
    FakeConsumers consumers;
    FakeStoreHooks hooks;
    AppendLog appends;
    TDataStore store{"/gw", hooks, loop, std::make_unique<FakeAppender>(appends)};
    CommandFormatter formatter{texts};
    TComponent owner{nullptr};
    ExchangeLink link{&owner, loop, settings, port, store, mail, log, texts, formatter};
    int boxes = 0;
    ReplyDispatcher dispatcher{link,
                               store,
                               settings,
                               log,
                               texts,
                               mail,
                               consumers,
                               [this](std::string_view, std::string_view, unsigned) {
                                   ++boxes;
                                   return 1;
                               },
                               "1.00"};
};

} // namespace vantor::testing_fakes
