// The link cycle on its own: each row is a legend, the events in order and
// what the cycle answers to each, then the state it is left in.  Limits:
// MaxTick 2, MaxError 2, MaxErrorTick 3.
//
// Events: send (a gateway request goes out and is awaited), client (a
// client's request goes out), tick, frame:N (a frame under number N; "-" for
// an empty one), done (the reply was handled), nak, lost (the line went
// away), restart (a new port); "*K" repeats an event K times (one answer).
// Answers: "-" for events that answer nothing; a tick answers ".", serve,
// resend, lost, down or over; a frame answers ignored, awaited, reply,
// recovered or recovered+reply; lost answers report or "-".
#include "core/LinkCycle.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/Settings.h"

namespace vantor {
namespace {

struct Row {
    const char* legend;
    const char* events;
    const char* answers;
    LinkState end;
    int timeouts = 0;
};

std::string Answer(LinkCycle& cycle, const std::string& event) {
    const std::uint8_t payload[] = {13};
    if (event == "send" || event == "client") {
        const bool client = event == "client";
        cycle.Record(client ? RequestKind::Client : RequestKind::Configuration, payload, 0);
        cycle.Send(">COM", "x", payload);
        cycle.Await(client ? LinkState::AwaitingClientReply : LinkState::AwaitingReply);
        return "-";
    }
    if (event == "tick") {
        switch (cycle.OnTick()) {
        case LinkCycle::TickAction::None: return ".";
        case LinkCycle::TickAction::ServeQueue: return "serve";
        case LinkCycle::TickAction::Resend: return "resend";
        case LinkCycle::TickAction::LinkLost: return "lost";
        case LinkCycle::TickAction::LinkDown: return "down";
        case LinkCycle::TickAction::StartOver: return "over";
        }
    }
    if (event.rfind("frame:", 0) == 0) {
        const std::string n = event.substr(6);
        const auto action =
            cycle.OnFrame(n == "-" ? std::nullopt : std::optional<std::uint8_t>(std::stoi(n)));
        if (!action.awaited) return "ignored";
        const std::string reply = action.reply ? "reply" : "";
        if (action.recovered) return reply.empty() ? "recovered" : "recovered+" + reply;
        return reply.empty() ? "awaited" : reply;
    }
    if (event == "done") cycle.ReplyHandled();
    if (event == "nak") cycle.OnNegativeAcknowledgement();
    if (event == "lost") return cycle.LineLost() ? "report" : "-";
    if (event == "restart") cycle.Restart();
    return "-";
}

TEST(LinkCycle, EveryRowGivesItsAnswersAndEndState) {
    const Row rows[] = {
        {"an answer in time ends the wait; the idle link serves the queue",
         "send tick frame:1 done tick", "- . reply - serve", LinkState::Idle},
        {"no answer: resent under its own number after MaxTick ticks, which then answers it",
         "send tick tick tick frame:1 done", "- . . resend reply -", LinkState::Idle, 1},
        {"MaxError time-outs: the link is down, reported once; after the pause it starts over",
         "send tick tick tick tick tick tick tick tick tick", "- . . resend . lost . . over serve",
         LinkState::Idle},
        {"down again before a frame proved it back: not reported again",
         "send tick tick tick tick tick tick tick tick send tick tick tick tick tick",
         "- . . resend . lost . . over - . . resend . down", LinkState::LinkDown, 2},
        {"a frame nobody waits for changes nothing", "frame:1 send tick tick frame:1",
         "ignored - . . ignored", LinkState::Resend, 1},
        {"any frame while waiting proves the link back, even a stray number",
         "lost send frame:9 frame:1", "report - recovered reply", LinkState::AwaitingReply},
        {"an empty frame proves it too, and answers nothing", "lost send frame:- frame:1 done",
         "report - recovered reply -", LinkState::Idle},
        {"the line lost twice is reported once", "lost lost send frame:1",
         "report - - recovered+reply", LinkState::AwaitingReply},
        {"an answer to an earlier number does not end the wait", "send frame:1 done send frame:1",
         "- reply - - awaited", LinkState::AwaitingReply},
        {"a repeated answer is taken once", "send frame:1 frame:1", "- reply awaited",
         LinkState::AwaitingReply},
        {"time-outs add up over good answers", "send tick tick tick frame:1 done send tick tick",
         "- . . resend reply - - . lost", LinkState::LinkDown, 2},
        {"a client's request is never resent: its wait just ends", "client tick tick tick",
         "- . . serve", LinkState::Idle},
        {"a negative acknowledgement ends the wait at the next tick", "send nak tick tick",
         "- - . resend", LinkState::AwaitingReply, 1},
        {"... and a client's wait at once", "client nak tick tick", "- - . serve", LinkState::Idle},
        {"a new port: idle, no time-outs counted", "send tick tick restart tick", "- . . - serve",
         LinkState::Idle},
        {"the sequence number after 255 is 0", "send*255 send frame:0", "- - reply",
         LinkState::AwaitingReply},
    };
    TimerSettings limits;
    limits.MaxTick = 2;
    limits.MaxError = 2;
    limits.MaxErrorTick = 3;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        LinkCycle cycle(limits);
        std::istringstream events(row.events);
        std::string answers;
        for (std::string event; events >> event;) {
            int times = 1;
            if (const auto star = event.find('*'); star != std::string::npos) {
                times = std::stoi(event.substr(star + 1));
                event.resize(star);
            }
            std::string answer;
            for (int i = 0; i < times; ++i) answer = Answer(cycle, event);
            answers += (answers.empty() ? "" : " ") + answer;
        }
        EXPECT_EQ(answers, row.answers);
        EXPECT_EQ(cycle.State(), row.end);
        EXPECT_EQ(cycle.TimeoutCount(), row.timeouts);
    }
}

} // namespace
} // namespace vantor
