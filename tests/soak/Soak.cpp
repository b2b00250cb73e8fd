// vantor-soak: the real gateway, headless, against vantor-sim playing every
// fault it has, under a mix of clients, for MINUTES minutes; then the checks
// that matter for a gateway that must run for months:
//
//   - it is alive and answers;
//   - its open descriptors and resident memory are back to their level after
//     the warm-up (bounded growth);
//   - no client received a reply meant for another, or a wrong or doubled one;
//   - every accounting record the simulator handed out is in the file exactly
//     once, in order;
//   - its own accounting poll kept at least half of its rate while the link
//     was up, however many clients pressed on the queue.
//
//   vantor-soak [--minutes M] [--seed N] [--echo]
//
// The device loss is the simulator ending (quit or kill -9) and a new one
// started on the same link name, as the same exchange (--records-handed).
// Figures are printed; the exit status is 0 when every check holds.
#include "EndToEnd.h"
#include "ExchangeModel.h"
#include "Process.h"
#include "RecordFile.h"
#include "SimProcess.h"
#include "SoakClients.h"
#include "TcpClient.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace vantor;
using namespace vantor::test;
using namespace vantor::soak;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr int Ports = 8;                // the simulated exchange's extensions
constexpr int URIntervalMs = 1000;      // the accounting poll's period (the default)
constexpr double AccountingShare = 0.5; // of that rate, kept while the link is up
constexpr long RssGrowthLimitKb = 2048; // bounded growth after the warm-up
constexpr auto StepLength = 8s;         // one fault (or a quiet stretch) each
constexpr auto SilenceLength = 4s;      // beyond the link-down threshold (1.8 s)

struct Options {
    double minutes = 2;
    std::uint32_t seed = 1;
    bool echo = false;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "vantor-soak: %s\nusage: vantor-soak [--minutes M] [--seed N] [--echo]\n",
                 why);
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--echo") {
            o.echo = true;
            continue;
        }
        if (i + 1 >= argc) Usage(("unknown or incomplete argument " + a).c_str());
        const std::string v = argv[++i];
        char* end = nullptr;
        if (a == "--minutes") {
            o.minutes = std::strtod(v.c_str(), &end);
            if (*end || !(o.minutes >= 0.5 && o.minutes <= 10080))
                Usage("--minutes is 0.5 to 10080");
        } else if (a == "--seed") {
            o.seed = static_cast<std::uint32_t>(std::strtoul(v.c_str(), &end, 10));
            if (*end) Usage("--seed is a number");
        } else {
            Usage(("unknown argument " + a).c_str());
        }
    }
    return o;
}

// ---- the gateway from outside ----------------------------------------------

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int OpenDescriptors(pid_t pid) {
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
         !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

struct Level {
    int descriptors = 0;
    long residentKb = 0;
};

// Once the clients are gone the gateway closes their sockets on its next
// turns: wait until the count stops falling.  The lowest of the last samples
// is taken (an accounting append holds the file open for a moment).
Level Settle(pid_t pid) {
    std::vector<int> samples;
    const auto deadline = Clock::now() + 15s;
    while (Clock::now() < deadline) {
        samples.push_back(OpenDescriptors(pid));
        const std::size_t n = samples.size();
        if (n >= 6 && *std::min_element(samples.end() - 4, samples.end()) >=
                          *std::min_element(samples.end() - 6, samples.end() - 4))
            break;
        std::this_thread::sleep_for(250ms);
    }
    const auto last = static_cast<long>(std::min<std::size_t>(4, samples.size()));
    return {*std::min_element(samples.end() - last, samples.end()), ResidentKb(pid)};
}

// Seconds of the day of a log line's stamp "HH:MM:SS.t", or -1.
double Stamp(const std::string& line) {
    int h, m, s, t;
    if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%1d", &h, &m, &s, &t) != 4) return -1;
    return h * 3600 + m * 60 + s + t / 10.0;
}

double NowOfDay() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + ts.tv_nsec / 1e9;
}

// How long the gateway itself had the link down within [from, from + length]
// seconds of the day: from each link-lost line to the restored line after it.
double DownSeconds(const std::vector<std::string>& lines, double from, double length) {
    const std::string lost = "!Err " + EnglishText(116), restored = "-OK- " + EnglishText(117);
    auto since = [&](double t) { // seconds after `from`, across midnight
        double d = t - from;
        return d < -43200 ? d + 86400 : d > 43200 ? d - 86400 : d;
    };
    auto overlap = [&](double a, double b) {
        return std::max(0.0, std::min(b, length) - std::max(a, 0.0));
    };
    double down = 0, start = 0;
    bool isDown = false;
    for (const std::string& l : lines) {
        const double t = Stamp(l);
        if (t < 0) continue;
        if (!isDown && l.find(lost) != std::string::npos) {
            isDown = true;
            start = since(t);
        } else if (isDown && l.find(restored) != std::string::npos) {
            isDown = false;
            down += overlap(start, since(t));
        }
    }
    if (isDown) down += overlap(start, length);
    return down;
}

// ---- the exchange's line ---------------------------------------------------

// The simulator on a fixed link name; ending it is the device lost, starting
// it again the device back, as the same exchange with the records it has
// handed out so far.
class ExchangeLine {
public:
    ExchangeLine(std::string link, std::uint32_t seed) : link_(std::move(link)), seed_(seed) {}
    ~ExchangeLine() {
        sim_.reset();
        std::error_code ec;
        std::filesystem::remove(link_, ec); // left by a simulator killed with -9
    }

    void Start() {
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--link", link_, "--ports", std::to_string(Ports), "--seed", std::to_string(seed_),
            "--records-handed", std::to_string(handed_)});
        ++starts_;
    }
    void Quit() { End(false); }
    void Kill() { End(true); }
    std::string Command(const std::string& line) { return sim_ ? sim_->Command(line) : ""; }
    std::uint64_t Handed() {
        if (sim_) handed_ = std::max(handed_, sim_->StatusValue("records_handed"));
        return handed_;
    }
    void AddFigures() {
        if (!sim_) return;
        for (const char* key : {"requests", "naks", "crc_errors", "silenced", "resends", "strays"})
            totals_[key] += std::strtoull(sim_->Status()[key].c_str(), nullptr, 10);
    }
    const std::map<std::string, std::uint64_t>& totals() const { return totals_; }
    int starts() const { return starts_; }
    const std::string& link() const { return link_; }

private:
    void End(bool kill) {
        if (!sim_) return;
        AddFigures();
        if (kill)
            sim_->process().Signal(SIGKILL);
        else
            sim_->Command("quit");
        sim_->process().WaitExit(10s);
        // Every record it handed out has its EVENT line before its answer left.
        handed_ = std::max(handed_, sim_->LastRecordEvent());
        sim_.reset();
    }

    std::string link_;
    std::uint32_t seed_;
    std::unique_ptr<SimProcess> sim_;
    std::uint64_t handed_ = 0;
    int starts_ = 0;
    std::map<std::string, std::uint64_t> totals_;
};

struct Fault {
    const char* name;
    std::function<void(ExchangeLine&)> apply;
    Clock::duration revertAfter; // within the step; the rest of it is the recovery
    std::function<void(ExchangeLine&)> revert;
};

std::vector<Fault> Faults() {
    auto command = [](std::string c) { return [c](ExchangeLine& l) { l.Command(c); }; };
    auto nothing = [](ExchangeLine&) {};
    return {
        {"CRC errors (every 17th reply)", command("crc every 17"), StepLength,
         command("crc every 0")},
        {"silence", command("silent on"), SilenceLength, command("silent off")},
        {"NAKs (every 19th reply)", command("nak every 19"), StepLength, command("nak every 0")},
        {"device loss (quit)", [](ExchangeLine& l) { l.Quit(); }, 1500ms,
         [](ExchangeLine& l) { l.Start(); }},
        {"delay 150 ms", command("delay 150"), StepLength, command("delay 0")},
        {"split writes", command("split on"), StepLength, command("split off")},
        {"device loss (kill -9)", [](ExchangeLine& l) { l.Kill(); }, 300ms,
         [](ExchangeLine& l) { l.Start(); }},
        {"delay 450 ms (beyond the reply wait)", command("delay 450"), StepLength,
         command("delay 0")},
        {"quiet", nothing, StepLength, nothing},
    };
}

const std::vector<ClientPlan> Mix = {
    {ClientKind::Relayed, 6},   {ClientKind::Cached, 3},     {ClientKind::LineStates, 1},
    {ClientKind::SwState, 1},   {ClientKind::Accounting, 2}, {ClientKind::Garbage, 1},
    {ClientKind::Vanishing, 1}, {ClientKind::NeverReads, 1},
};

// The gateway answers a relayed request with the exchange's reply within
// half a minute (it may be starting, or the link coming back).
bool Answers(int port) {
    const Bytes request{0x00, 0x3C, 0x01, 0xFE, 0x00, 0x00, 0x01};
    const Bytes expected = sim::ExchangeModel::QueryReply(request);
    return WaitUntil(
        [&] {
            TcpClient probe(port);
            return probe.connected() && probe.Send(request) &&
                   probe.ReceiveBytes(expected.size(), 5s) == expected;
        },
        30s);
}

class Verdict {
public:
    void Check(bool ok, const std::string& what) {
        std::printf("  %-6s %s\n", ok ? "ok" : "FAILED", what.c_str());
        failed_ |= !ok;
    }
    void Skip(const std::string& what, const std::string& why) {
        std::printf("  %-6s %s: %s\n", "skip", what.c_str(), why.c_str());
    }
    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

int Run(const Options& o) {
    const auto total =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.minutes * 60));
    const auto warmUp = std::clamp<Clock::duration>(total * 15 / 100, 15s, 60s);
    const auto mainPhase = total - warmUp;
    if (o.echo) ::setenv("VANTOR_TEST_ECHO", "1", 1);

    GatewayHome home;
    ExchangeLine line("/tmp/vsoak" + std::to_string(::getpid()), o.seed);
    line.Start();
    const int port = FreePort();
    home.WriteIni("[Set]\r\nLang=Eng\r\nPort=" + line.link() +
                  ":19200,N,8,1\r\nIPPort=" + std::to_string(port) +
                  "\r\nReadUct=1\r\nSendUct=1\r\n"
                  "[Timer]\r\nPortRetry=500\r\nMaxTick=3\r\nMaxErrorTick=20\r\nURInterval=" +
                  std::to_string(URIntervalMs) +
                  "\r\n"
                  // The clients' own lines would make the log most of the
                  // gateway's work and of this program's memory.
                  "[Log]\r\nCom_In=0\r\nTCP/IP_In=0\r\nTCP/IP_Out=0\r\n");
    auto gateway = home.Start();
    if (!Answers(port)) {
        std::printf("vantor-soak: the gateway did not start:\n%s\n", gateway->Output().c_str());
        return 1;
    }
    const pid_t pid = gateway->pid();
    std::printf(
        "soak: %.1f min (warm-up %lld s), seed %u, gateway pid %d, relay port %d, line %s\n",
        o.minutes,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(warmUp).count()),
        o.seed, pid, port, line.link().c_str());
    std::fflush(stdout);

    std::uint64_t violations = 0;
    std::vector<std::string> firstViolations;
    auto collect = [&](ClientMix& mix) {
        violations += mix.violations().Count();
        for (auto& v : mix.violations().First())
            if (firstViolations.size() < 20) firstViolations.push_back(v);
    };

    // Warm-up: every kind of client, no faults, so that the cache, the log
    // list and the heap reach their working size.
    {
        ClientMix warm(port, Ports, o.seed, Mix);
        std::this_thread::sleep_for(warmUp);
        warm.Stop();
        collect(warm);
    }
    const Level base = Settle(pid);

    // The main phase: the clients all the time, one fault after the other.
    const std::uint64_t recordsAtStart = LastRecordNumber(home.Read("DATA.NEW"));
    const double mainStartOfDay = NowOfDay();
    const auto mainStart = Clock::now(), mainEnd = mainStart + mainPhase;
    long peakKb = base.residentKb;
    int peakDescriptors = base.descriptors;
    std::map<std::string, int> applied;
    bool died = false;
    ClientMix mix(port, Ports, o.seed + 7, Mix);
    const std::vector<Fault> faults = Faults();
    auto nextReport = mainStart + 60s;
    for (std::size_t i = 0; Clock::now() < mainEnd && !died; ++i) {
        if (Clock::now() >= nextReport) {
            // For long runs: the level minute by minute, so growth shows.
            std::printf("  %3lld min: resident %ld KiB, %d descriptors, %llu records in the file\n",
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::minutes>(
                                                   Clock::now() - mainStart)
                                                   .count()),
                        ResidentKb(pid), OpenDescriptors(pid),
                        static_cast<unsigned long long>(LastRecordNumber(home.Read("DATA.NEW"))));
            std::fflush(stdout);
            nextReport += 60s;
        }
        const Fault& f = faults[i % faults.size()];
        const auto stepStart = Clock::now();
        const auto stepEnd = std::min(stepStart + StepLength, mainEnd);
        f.apply(line);
        ++applied[f.name];
        bool reverted = false;
        while (Clock::now() < stepEnd) {
            std::this_thread::sleep_for(250ms);
            if (!reverted && Clock::now() >= stepStart + f.revertAfter) {
                f.revert(line);
                reverted = true;
            }
            peakKb = std::max(peakKb, ResidentKb(pid));
            peakDescriptors = std::max(peakDescriptors, OpenDescriptors(pid));
            if ((died = !gateway->Running())) break;
        }
        if (!reverted) f.revert(line);
    }
    const double mainSeconds = std::chrono::duration<double>(Clock::now() - mainStart).count();
    const std::uint64_t recordsAtEnd = LastRecordNumber(home.Read("DATA.NEW"));
    mix.Stop();
    collect(mix);

    Verdict verdict;
    std::printf("\nchecks\n");
    verdict.Check(!died && gateway->Running(), "the gateway is running");
    if (died) {
        std::printf("its last lines:\n");
        const auto lines = gateway->Lines();
        for (std::size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i)
            std::printf("    %s\n", lines[i].c_str());
        return 1;
    }
    verdict.Check(Answers(port), "it answers a relayed request with the exchange's reply");

    // No more records: once the last one handed out is in the file, the file
    // must hold every one exactly once.
    line.Command("records 0");
    const std::uint64_t handed = line.Handed();
    WaitUntil([&] { return LastRecordNumber(home.Read("DATA.NEW")) >= handed; }, 60s);
    const Level end = Settle(pid);
    verdict.Check(end.descriptors <= base.descriptors,
                  "open descriptors back to their level after the warm-up: " +
                      std::to_string(end.descriptors) + " (after the warm-up " +
                      std::to_string(base.descriptors) + ", peak " +
                      std::to_string(peakDescriptors) + ")");
    const std::string memory =
        "resident memory within " + std::to_string(RssGrowthLimitKb) +
        " KiB of its level after the warm-up: " + std::to_string(end.residentKb) +
        " KiB (after the warm-up " + std::to_string(base.residentKb) + " KiB, peak " +
        std::to_string(peakKb) + " KiB)";
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back (its quarantine) and so grows
    // the resident size by design; its leak check at the gateway's exit, seen
    // in the clean-stop check below, stands in for this one.
    verdict.Skip(memory, "the sanitizer's quarantine keeps freed memory");
#else
    verdict.Check(end.residentKb <= base.residentKb + RssGrowthLimitKb, memory);
#endif
    verdict.Check(violations == 0, "no client received a reply meant for another, a wrong or a "
                                   "doubled one: " +
                                       std::to_string(violations) + " violations");
    for (const std::string& v : firstViolations) std::printf("           %s\n", v.c_str());

    const double down = DownSeconds(gateway->Lines(), mainStartOfDay, mainSeconds);
    const double up = mainSeconds - down;
    const std::uint64_t fetched = recordsAtEnd - std::min(recordsAtEnd, recordsAtStart);
    const double nominal = up * 1000.0 / URIntervalMs;
    const double share = nominal > 0 ? fetched / nominal : 0;
    char text[200];
    std::snprintf(text, sizeof text,
                  "the accounting poll kept at least %.0f%% of its rate (one record per %d ms) "
                  "while the link was up: %.0f%% (%llu records in %.0f s up, %.0f s down)",
                  AccountingShare * 100, URIntervalMs, share * 100,
                  static_cast<unsigned long long>(fetched), up, down);
    verdict.Check(share >= AccountingShare, text);

    bool box = false;
    for (const std::string& l : gateway->Lines())
        box |= l.find("MessageBox [") != std::string::npos;
    verdict.Check(!box, "no exception or message box in the log");
    line.AddFigures();
    gateway->Signal(SIGTERM);
    const auto status = gateway->WaitExit(15s);
    verdict.Check(status && Process::ExitCode(*status) == 0, "it stops cleanly on SIGTERM");
    const std::string problem = RecordFileProblem(home.Read("DATA.NEW"), handed);
    verdict.Check(problem.empty(), "every one of the " + std::to_string(handed) +
                                       " records handed out is in the file once, in order" +
                                       (problem.empty() ? "" : ": " + problem));

    std::printf("\nclients (main phase, %.0f s)     sent  answered    late  unanswered  closed\n",
                mainSeconds);
    for (const ClientPlan& p : Mix) {
        const ClientCounts& c = mix.Counts(p.kind);
        std::printf("  %-2d %-26s %8llu %9llu %7llu %11llu %7llu\n", p.count, KindName(p.kind),
                    (unsigned long long)c.sent, (unsigned long long)c.answered,
                    (unsigned long long)c.late, (unsigned long long)c.unanswered,
                    (unsigned long long)c.closed);
    }
    std::printf("faults:");
    for (const auto& [name, n] : applied) std::printf(" %s x%d;", name.c_str(), n);
    std::printf(" simulator started %d times\nexchange:", line.starts());
    for (const auto& [key, n] : line.totals())
        std::printf(" %s=%llu", key.c_str(), (unsigned long long)n);
    int lost = 0;
    for (const std::string& l : gateway->Lines())
        lost += l.find(EnglishText(116)) != std::string::npos;
    std::printf("\ngateway: link lost %d times, %.0f s down; records handed %llu, "
                "descriptors %d -> %d, resident %ld -> %ld KiB\n",
                lost, down, (unsigned long long)handed, base.descriptors, end.descriptors,
                base.residentKb, end.residentKb);
    std::printf("\nSOAK %s\n", verdict.failed() ? "FAILED" : "PASSED");
    return verdict.failed() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(Parse(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantor-soak: %s\n", e.what());
        return 1;
    }
}
