#pragma once
// A dispatcher wired to a fake link cycle, a real data store and recording
// fakes for everything else.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Settings.h"
#include "exchange/DataStore.h"
#include "exchange/ReplyDispatcher.h"
#include "toolkit/Component.h"
#include "toolkit/Timer.h"
#include "toolkit/VirtualLoop.h"

#include "dispatch_fakes.h"

namespace vantor::testing_fakes {

class FakeLink : public DispatchLink {
public:
    explicit FakeLink(VirtualLoop& loop) {
        for (auto& t : timers) {
            t = std::make_unique<TTimer>(nullptr, loop);
            t->SetEnabled(false);
        }
    }
    LinkState State() const override { return state; }
    void SetState(LinkState s) override { state = s; }
    bool LinkLost() const override { return lost; }
    void SetLinkLost(bool l) override { lost = l; }
    std::uint8_t LastSentSequence() const override { return lastSequence; }
    std::unique_ptr<SentRequest> TakeSentRequest(std::uint8_t sequence) override {
        if (!pending || pending->first != sequence) return nullptr;
        auto record = std::move(pending->second);
        pending.reset();
        return record;
    }
    void Enqueue(char kind, std::int32_t argument) override { queued.emplace_back(kind, argument); }
    void SendPacket(std::string_view label, std::string_view text,
                    std::span<const std::uint8_t> payload) override {
        sent.push_back(
            {std::string(label), std::string(text), Bytes(payload.begin(), payload.end())});
    }
    void NegativeAcknowledge() override { ++naks; }
    TTimer& Timer(LinkTimer timer) override { return *timers[static_cast<int>(timer)]; }

    // Makes `kind` the request waiting under `sequence`.
    void Await(std::uint8_t sequence, char kind, Bytes request = {0}, std::int32_t value = 0,
               LinkState s = LinkState::AwaitingReply) {
        auto record = std::make_unique<SentRequest>();
        record->kind = kind;
        record->firstByte = request.empty() ? 0 : request[0];
        record->value = value;
        record->payload = std::move(request);
        pending.emplace(sequence, std::move(record));
        lastSequence = sequence;
        state = s;
    }

    struct Sent {
        std::string label, text;
        Bytes payload;
    };
    LinkState state = LinkState::Idle;
    bool lost = false;
    std::uint8_t lastSequence = 0;
    std::optional<std::pair<std::uint8_t, std::unique_ptr<SentRequest>>> pending;
    std::vector<std::pair<char, std::int32_t>> queued;
    std::vector<Sent> sent;
    int naks = 0;
    std::unique_ptr<TTimer> timers[7];
};

struct MessageBoxCall {
    std::string text, caption;
    unsigned flags;
};

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest()
        : store("/gw", hooks, loop, std::make_unique<FakeAppender>(appends)),
          dispatcher(
              link, store, settings, log, texts, mail, consumers,
              [this](std::string_view text, std::string_view caption, unsigned flags) {
                  boxes.push_back({std::string(text), std::string(caption), flags});
                  return boxAnswer;
              },
              "1.00") {}

    void Reply(std::uint8_t sequence, Bytes payload) {
        const Bytes frame = Frame(sequence, std::move(payload));
        dispatcher.HandlePacket(frame);
    }
    // Sends `kind` and lets the exchange answer it.
    void Answer(char kind, Bytes payload, Bytes request = {0}) {
        link.Await(7, kind, std::move(request));
        Reply(7, std::move(payload));
    }
    bool Enabled(LinkTimer t) { return link.Timer(t).Enabled(); }

    VirtualLoop loop;
    Settings settings;
    RecordingLog log;
    NumberTexts texts;
    FakeMail mail;
    FakeConsumers consumers;
    FakeStoreHooks hooks;
    AppendLog appends;
    FakeLink link{loop};
    TDataStore store;
    std::vector<MessageBoxCall> boxes;
    int boxAnswer = 1;
    ReplyDispatcher dispatcher;
};

} // namespace vantor::testing_fakes
