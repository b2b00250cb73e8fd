// vantor-sim as a program: a test plays the gateway on the slave side of the
// pseudo-terminal, with real frames, and drives the simulator through stdin.
#include "ExchangeModel.h"
#include "serial/FrameCodec.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vantor;
using vantor::test::Process;
using vantor::test::ProcessOptions;
using vantor::test::SimProcess;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Frame {
    std::uint8_t seq = 0;
    Bytes payload;
};

// The gateway's end of the line: the slave device, raw, with a frame decoder.
class Line {
public:
    explicit Line(const std::string& device) {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        decoder_.onPacket = [this](int count, const std::uint8_t* data) {
            frames_.push_back({data[0], Bytes(data + 1, data + count)});
        };
        decoder_.onStray = [this](std::uint8_t b) { strays.push_back(b); };
    }
    ~Line() { Close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void Send(std::uint8_t seq, const Bytes& payload) {
        Bytes wire = EncodeFrame(seq, payload);
        std::size_t done = 0;
        while (done < wire.size()) {
            ssize_t n = ::write(fd_, wire.data() + done, wire.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }
    // The next whole frame, or nullopt when none came in time.
    std::optional<Frame> Receive(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (frames_.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            if (!pump(static_cast<int>(left.count()))) return std::nullopt;
        }
        Frame f = frames_.front();
        frames_.erase(frames_.begin());
        return f;
    }
    // Reads until at least one stray byte came (a negative acknowledgement).
    bool WaitForStray(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (strays.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !pump(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    // Sends and waits for the reply with the same sequence number.
    std::optional<Frame> Ask(std::uint8_t seq, const Bytes& payload,
                             std::chrono::milliseconds timeout = 5s) {
        Send(seq, payload);
        for (;;) {
            auto f = Receive(timeout);
            if (!f || f->seq == seq) return f;
            skipped.push_back(*f);
        }
    }
    // Asks until a reply comes, resending under the same number as the
    // gateway does after a lost reply.
    std::optional<Frame> AskUntilAnswered(std::uint8_t seq, const Bytes& payload) {
        for (int attempt = 0; attempt < 10; ++attempt)
            if (auto f = Ask(seq, payload, std::chrono::milliseconds(300))) return f;
        return std::nullopt;
    }

    Bytes strays;
    std::vector<Frame> skipped; // frames Ask passed over (other sequence numbers)
    std::size_t reads = 0;      // read calls that returned data
    std::size_t rawBytes = 0;

private:
    bool pump(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return true;
        std::uint8_t buf[4096];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            ++reads;
            rawBytes += static_cast<std::size_t>(n);
            decoder_.feed(std::span(buf, static_cast<std::size_t>(n)));
            return true;
        }
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }

    int fd_ = -1;
    FrameDecoder decoder_{4092};
    std::vector<Frame> frames_;
};

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("vantor-sim-test-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string Text(const Frame& f) { return std::string(f.payload.begin() + 1, f.payload.end()); }

} // namespace

TEST(SimProgram, AnswersEveryRequestKindOnThePty) {
    const std::string logPath = TempPath("kinds.log");
    SimProcess sim({"--ports", "5", "--info-blocks", "2", "--line-offset", "1", "--message-every",
                    "1", "--log", logPath});
    ASSERT_EQ(sim.device().rfind("/dev/pts/", 0), 0u) << sim.device();
    Line line(sim.device());
    ASSERT_TRUE(line.ok());

    // The start-up set, in the gateway's order.
    auto c = line.Ask(1, {13});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->payload.size(), 17u);
    EXPECT_EQ(c->payload[5], 2);
    EXPECT_EQ(c->payload[6], 0);
    auto i = line.Ask(2, {2});
    ASSERT_TRUE(i);
    EXPECT_EQ(i->payload, (Bytes{0, 3, 5, 1, 2, 0x20, 0x12, 0x08}));
    auto x = line.Ask(3, {0, 40, 0});
    ASSERT_TRUE(x);
    EXPECT_EQ(x->payload.size(), 147u);
    auto v = line.Ask(4, {0, 14, 0});
    ASSERT_TRUE(v);
    EXPECT_EQ(v->payload.size(), 3u + 4 * 5);
    EXPECT_EQ((Bytes(v->payload.begin() + 3, v->payload.begin() + 7)),
              (Bytes{1, 10, 1, 0})); // "101"

    // The polls.
    auto a = line.Ask(5, {0, 22, 0});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->payload.size(), 3u + 4 * 5);
    auto sw = line.Ask(6, {14});
    ASSERT_TRUE(sw);
    EXPECT_EQ(sw->payload.size(), 12u);
    auto s = line.Ask(7, {0, 1, 0});
    ASSERT_TRUE(s);
    ASSERT_GT(s->payload.size(), 4u);
    EXPECT_EQ(s->payload[3], 'Q');
    Bytes ack(254, 0);
    ack[0] = 1;
    ack[1] = 1;
    ack[2] = s->payload[2];
    auto acked = line.Ask(8, ack);
    ASSERT_TRUE(acked);
    EXPECT_EQ(acked->payload, Bytes{0});
    EXPECT_TRUE(sim.WaitForEvent("message acknowledged 1", 5s));
    auto u = line.Ask(9, {4});
    ASSERT_TRUE(u);
    EXPECT_EQ(Text(*u), sim::ExchangeModel::RecordText(1));
    auto m = line.Ask(10, {1, 17, 0, 0, 1, 0, 0});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, Bytes{0});

    // The call-centre requests.
    auto f = line.Ask(11, {33});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->payload[0], 0);
    auto y = line.Ask(12, {0, 47, 0});
    ASSERT_TRUE(y);
    EXPECT_GE(y->payload.size(), 12u);
    EXPECT_EQ(y->payload[2], 0);
    auto p0 = line.Ask(13, {0, 25, 0});
    ASSERT_TRUE(p0);
    EXPECT_EQ(p0->payload.size(), 67u);
    auto p2 = line.Ask(14, {0, 25, 2});
    ASSERT_TRUE(p2);
    EXPECT_EQ(p2->payload, Bytes{sim::ErrBadParameter});
    auto sn = line.Ask(15, {0, 24, 3});
    ASSERT_TRUE(sn);
    EXPECT_EQ(sn->payload.size(), 239u);
    auto cmd = line.Ask(16, {18, 2, 1, 2, 3});
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->payload, Bytes{0});
    auto q = line.Ask(17, {0, 30, 4});
    ASSERT_TRUE(q);
    EXPECT_EQ((Bytes{q->payload[1], q->payload[2]}), (Bytes{30, 4}));

    EXPECT_EQ(sim.StatusValue("requests"), 17u);
    EXPECT_EQ(sim.Quit(), 0);
    auto log = sim.LogLines();
    auto has = [&](const std::string& text) {
        for (auto& l : log)
            if (l.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("RX #01 C configuration: 0D")) << log.size();
    EXPECT_TRUE(has("TX #02 I info: 00 03 05 01 02 20 12 08"));
    EXPECT_TRUE(has("RX #0A M message counters: 01 11 00 00 01 00 00"));
    EXPECT_TRUE(has("RX #10 # command: 12 02 01 02 03"));
    std::filesystem::remove(logPath);
}

TEST(SimProgram, SplitFramesAndNegativeAcknowledgements) {
    SimProcess sim({"--split", "--nak-every", "2"});
    Line line(sim.device());
    ASSERT_TRUE(line.ok());
    auto first = line.Ask(1, {0, 40, 0});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->payload.size(), 147u); // assembled from single bytes, escapes included
    EXPECT_TRUE(line.strays.empty());

    line.Send(2, {4});
    ASSERT_TRUE(line.WaitForStray(5s));
    EXPECT_EQ(line.strays, Bytes{0xE0});
    // The resend gets the first record, not the second.
    auto again = line.Ask(2, {4});
    ASSERT_TRUE(again);
    EXPECT_EQ(Text(*again), sim::ExchangeModel::RecordText(1));
    EXPECT_EQ(sim.StatusValue("naks"), 1u);
    EXPECT_EQ(sim.StatusValue("resends"), 1u);
}

// A loose check on the real program (the pacing itself is computed and tested
// on the session's clock): a round trip takes at least the line's time.
TEST(SimProgram, LineSpeedAndThinkTimeHoldOnThePty) {
    SimProcess sim({"--baud", "2400", "--think", "20"});
    Line line(sim.device());
    ASSERT_TRUE(line.ok());
    const Bytes request{0, 40, 0};
    const std::size_t requestBytes = EncodeFrame(1, request).size();
    auto timed = [&](std::uint8_t seq) {
        const auto start = std::chrono::steady_clock::now();
        auto reply = line.Ask(seq, request);
        EXPECT_TRUE(reply);
        const std::size_t bytes =
            requestBytes + (reply ? EncodeFrame(seq, reply->payload).size() : 0);
        return std::make_pair(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start), bytes);
    };
    const auto [paced, bytes] = timed(1);
    const double lineSeconds = bytes * 10 / 2400.0 + 0.020;
    EXPECT_GE(paced.count(), lineSeconds * 0.98) << bytes << " bytes";
    EXPECT_LT(paced.count(), lineSeconds + 2.0);

    EXPECT_EQ(sim.Command("baud 0"), "OK baud 0");
    EXPECT_EQ(sim.Command("think 0"), "OK think 0");
    const auto [unpaced, ignored] = timed(2);
    EXPECT_LT(unpaced.count(), lineSeconds / 2) << "without a speed the line takes no time";
}

TEST(SimProgram, RecordsArriveWithoutGapsThroughCrcErrorsAndRepeats) {
    SimProcess sim({"--records", "12", "--crc-error-every", "3"});
    Line line(sim.device());
    ASSERT_TRUE(line.ok());
    // A gateway's accounting loop: 04 for the next record, 05 now and then
    // as after a failed file write, and a resend under the same number when a
    // reply does not arrive.
    std::vector<std::string> kept;
    std::uint8_t seq = 1;
    int rounds = 0;
    for (bool repeat = false; rounds < 200; ++rounds) {
        const Bytes req{static_cast<std::uint8_t>(repeat ? 5 : 4)};
        auto reply = line.AskUntilAnswered(seq, req);
        ASSERT_TRUE(reply) << "no reply after 10 attempts";
        ++seq;
        std::string text = Text(*reply);
        if (text.empty()) break;
        if (repeat) {
            ASSERT_FALSE(kept.empty());
            EXPECT_EQ(text, kept.back()) << "05 repeats the last record";
        } else {
            kept.push_back(text);
        }
        repeat = !repeat && kept.size() % 4 == 0;
    }
    ASSERT_EQ(kept.size(), 12u);
    for (std::size_t n = 0; n < kept.size(); ++n)
        EXPECT_EQ(kept[n], sim::ExchangeModel::RecordText(n + 1));
    EXPECT_GT(sim.StatusValue("crc_errors"), 0u);

    // More records on command, numbered on.
    EXPECT_EQ(sim.Command("records 2"), "OK records 2");
    for (std::uint64_t n : {13, 14}) {
        auto r = line.AskUntilAnswered(seq++, {4});
        ASSERT_TRUE(r);
        EXPECT_EQ(Text(*r), sim::ExchangeModel::RecordText(n));
    }
    auto none = line.AskUntilAnswered(seq++, {4});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->payload, Bytes{0});
    EXPECT_TRUE(line.skipped.empty());
}

TEST(SimProgram, LineCanBeReopenedAndBehaviourChangedOnStdin) {
    SimProcess sim;
    {
        Line line(sim.device());
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.Ask(1, {13}));
    }
    ASSERT_TRUE(sim.WaitForEvent("line closed", 5s));
    for (int round = 0; round < 3; ++round) {
        {
            Line line(sim.device());
            ASSERT_TRUE(line.ok());
            // The request goes out at once, as a gateway's would; the
            // simulator notices the new opener by it at the latest.
            auto r = line.Ask(static_cast<std::uint8_t>(10 + round), {2}, 5s);
            ASSERT_TRUE(r) << round;
            EXPECT_EQ(r->payload.size(), 8u);
            EXPECT_TRUE(sim.WaitForEvent("line opened", 5s)) << round;
        }
        ASSERT_TRUE(sim.WaitForEvent("line closed", 5s)) << round;
    }

    Line line(sim.device());
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(sim.Command("silent on"), "OK silent on");
    const std::uint64_t before = sim.StatusValue("requests");
    line.Send(20, {13});
    // Wait until the simulator has seen the request, then check it kept quiet.
    for (int i = 0; i < 500 && sim.StatusValue("requests") == before; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(sim.StatusValue("silenced"), 1u);
    EXPECT_EQ(sim.Command("silent off"), "OK silent off");
    EXPECT_EQ(sim.Command("nak once"), "OK nak once");
    line.Send(21, {13});
    ASSERT_TRUE(line.WaitForStray(5s));
    auto r = line.Ask(22, {13});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->seq, 22);
    EXPECT_TRUE(line.skipped.empty()) << "the silenced request got no late reply";
    EXPECT_EQ(sim.Command("what now").rfind("ERR", 0), 0u);
    EXPECT_EQ(sim.Quit(), 0);
}

TEST(SimProgram, LinkIsMadeAndRemovedAndSignalsEndCleanly) {
    const std::string link = TempPath("ttyLINK");
    std::filesystem::remove(link);
    {
        SimProcess sim({"--link", link});
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.device());
        Line line(link);
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.Ask(1, {13}));
        ASSERT_TRUE(sim.process().Signal(SIGTERM));
        auto status = sim.process().WaitExit(5s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.process().Signal(SIGINT));
        auto status = sim.process().WaitExit(5s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
    }
    // A plain file in the way is left alone and the simulator refuses to start.
    { std::ofstream(link) << "keep me"; }
    ProcessOptions o;
    o.args = {"--link", link};
    Process refused(SimProcess::DefaultProgram(), o);
    auto status = refused.WaitExit(5s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 1);
    EXPECT_TRUE(refused.WaitForLine("not a symlink", 5s, Process::Stream::Stderr));
    std::ifstream kept(link);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");
    std::filesystem::remove(link);
}

TEST(SimProgram, HelpAndBadOptions) {
    ProcessOptions help;
    help.args = {"--help"};
    Process h(SimProcess::DefaultProgram(), help);
    EXPECT_TRUE(h.WaitForLine("--crc-error-every", 5s));
    auto status = h.WaitExit(5s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);

    for (std::vector<std::string> args :
         {std::vector<std::string>{"--ports", "64"}, {"--bogus"}, {"--delay-ms"}}) {
        ProcessOptions o;
        o.args = args;
        Process bad(SimProcess::DefaultProgram(), o);
        auto st = bad.WaitExit(5s);
        ASSERT_TRUE(st);
        EXPECT_EQ(Process::ExitCode(*st), 2) << args[0];
        EXPECT_TRUE(bad.WaitForLine("vantor-sim:", 5s, Process::Stream::Stderr)) << args[0];
    }
}

TEST(SimProgram, WorksWhenStartedWithStdinClosed) {
    // As a shell script starts it in the background: "vantor-sim <&- &".
    ProcessOptions o;
    o.args = {"-c", "exec \"$0\" <&-", SimProcess::DefaultProgram()};
    Process sim("sh", o);
    auto ready = sim.WaitForLine(std::regex("^READY /dev/pts/"), 5s);
    ASSERT_TRUE(ready);
    // Descriptor 0 stays a harmless /dev/null, never the pseudo-terminal.
    EXPECT_EQ(
        std::filesystem::read_symlink("/proc/" + std::to_string(sim.pid()) + "/fd/0").string(),
        "/dev/null");
    Line line(ready->substr(6));
    ASSERT_TRUE(line.ok());
    auto reply = line.Ask(1, {13});
    ASSERT_TRUE(reply) << "the line must not be taken for the command stream";
    EXPECT_EQ(reply->payload.size(), 17u);
}

TEST(SimProgram, ExclusiveOpenDoesNotLockTheNextOpenerOut) {
    // The gateway opens the line with TIOCEXCL.  On a pseudo-terminal the flag
    // outlives its close, which would refuse every later unprivileged opener.
    SimProcess sim;
    const bool root = ::geteuid() == 0;
    if (root) ::chmod(sim.device().c_str(), 0666); // let the unprivileged opener at it
    // Opens the device as an ordinary user and reports "opened" or the error.
    auto openAsUser = [&]() -> std::string {
        if (!root) {
            int fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            std::string result = fd >= 0 ? "opened" : std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return result;
        }
        ProcessOptions o;
        o.args = {"--reuid=65534",
                  "--regid=65534",
                  "--clear-groups",
                  "sh",
                  "-c",
                  "exec 3<>\"$0\" && echo opened",
                  sim.device()};
        Process p("setpriv", o);
        if (auto line = p.ReadLine(5s)) return *line;
        return p.WaitForLine("", 5s, Process::Stream::Stderr).value_or("no answer");
    };
    if (root && ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "setpriv is needed to test as a user";

    for (int round = 0; round < 2; ++round) {
        {
            Line line(sim.device());
            ASSERT_TRUE(line.ok());
            ASSERT_EQ(::ioctl(line.fd(), TIOCEXCL), 0);
            ASSERT_TRUE(line.Ask(static_cast<std::uint8_t>(round + 1), {13}));
            if (root) {
                EXPECT_NE(openAsUser(), "opened") << "exclusive while held";
            }
        }
        ASSERT_TRUE(sim.WaitForEvent("line closed", 5s));
        EXPECT_EQ(openAsUser(), "opened") << round;
        ASSERT_TRUE(sim.WaitForEvent("line closed", 5s));
    }
}
