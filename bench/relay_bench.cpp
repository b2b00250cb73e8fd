// relay-bench: load on the gateway's TCP relay from N concurrent clients.
//
// Every client runs closed-loop: it sends a request, waits for the reply and
// sends the next one at once.  A client whose reply does not come within the
// time-out counts a loss and asks again.  Figures: replies per second, p50 and
// p99 latency, losses, and (with --gateway-pid) the gateway's CPU time during
// the measurement and its peak resident memory.
//
//   relay-bench --port P --clients N --mode cache|snapshot|relay [--seconds S]
//               [--line-baud B --think-ms T]   the line the simulator plays
//   relay-bench --direct /dev/pts/K     round trip to an exchange (simulator)
//                                       without the gateway, for comparison
//   relay-bench --idle S --gateway-pid P   the gateway's cost with no client
//
// With --line-baud the run also prints the line's physical limit for the
// requests and replies it saw: the bytes of both frames on the wire (start
// mark, length, sequence byte, payload, CRC, every 0xEE doubled) at ten bits
// a byte, plus the exchange's think time, one request at a time; and the
// spread of the rates the single clients got.
//
// Modes: "cache" asks a query that lives an hour in the reply cache (only the
// very first goes to the exchange); "snapshot" alternates the line-state and
// SW requests, answered from the gateway's snapshots while they are fresh and
// forwarded otherwise; "relay" asks what the gateway must forward to the
// exchange every time (the waiting-queue request 0x21, never cached).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "serial/FrameCodec.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

struct Options {
    int port = 0;
    int clients = 1;
    double seconds = 5;
    double warmup = 1;
    int timeoutMs = 3000;
    std::string mode = "cache";
    int gatewayPid = 0;
    std::string direct;
    int directCount = 300;
    std::uint32_t lineBaud = 0; // the simulator's line speed, for the limit
    double thinkMs = 0;
    double idleSeconds = 0;
};

[[noreturn]] void Die(const std::string& text) {
    std::fprintf(stderr, "relay-bench: %s\n", text.c_str());
    std::exit(1);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--port")
            o.port = std::atoi(value().c_str());
        else if (a == "--clients")
            o.clients = std::atoi(value().c_str());
        else if (a == "--seconds")
            o.seconds = std::atof(value().c_str());
        else if (a == "--warmup")
            o.warmup = std::atof(value().c_str());
        else if (a == "--timeout-ms")
            o.timeoutMs = std::atoi(value().c_str());
        else if (a == "--mode")
            o.mode = value();
        else if (a == "--gateway-pid")
            o.gatewayPid = std::atoi(value().c_str());
        else if (a == "--direct")
            o.direct = value();
        else if (a == "--count")
            o.directCount = std::atoi(value().c_str());
        else if (a == "--line-baud")
            o.lineBaud = static_cast<std::uint32_t>(std::atol(value().c_str()));
        else if (a == "--think-ms")
            o.thinkMs = std::atof(value().c_str());
        else if (a == "--idle")
            o.idleSeconds = std::atof(value().c_str());
        else
            Die("unknown argument " + a);
    }
    if (o.idleSeconds > 0) {
        if (o.gatewayPid <= 0) Die("--idle needs --gateway-pid");
        return o;
    }
    if (o.direct.empty() && (o.port <= 0 || o.clients <= 0)) Die("--port and --clients are needed");
    if (o.mode != "cache" && o.mode != "snapshot" && o.mode != "relay")
        Die("--mode is cache, snapshot or relay");
    return o;
}

double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// utime + stime of a process in seconds, from /proc.
double CpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::atol(f.c_str());
        if (i == 15) stime = std::atol(f.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A field of /proc/PID/status in KiB (VmHWM peak, VmRSS now).
long StatusKiB(int pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    return 0;
}
long PeakKiB(int pid) { return StatusKiB(pid, "VmHWM"); }

// Bytes of a frame with this payload on the wire, averaged over the 256
// sequence numbers (the sequence byte and the CRC are escaped when 0xEE).
double MeanWireBytes(const Bytes& payload) {
    std::size_t total = 0;
    for (int seq = 0; seq < 256; ++seq)
        total += vantor::EncodeFrame(static_cast<std::uint8_t>(seq), payload).size();
    return static_cast<double>(total) / 256.0;
}

struct Client {
    int fd = -1;
    bool waiting = false;
    Clock::time_point sent;
    double lineAtSend = 0; // the line time served so far when the request went
    unsigned turn = 0;
    long replies = 0; // during the measurement
};

Bytes RequestFor(const std::string& mode, unsigned turn) {
    if (mode == "relay") return {0x21};
    if (mode == "cache") return {0x00, 0x00, 0x00}; // cached for an hour once fetched
    if (turn % 2 == 0) return {0x00, 0x16, 0x00};   // line states
    return {0x0E};                                  // SW state
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Die(std::string("socket: ") + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        Die("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

void SendRequest(Client& c, const std::string& mode) {
    const Bytes r = RequestFor(mode, c.turn++);
    if (::send(c.fd, r.data(), r.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(r.size()))
        Die(std::string("send: ") + std::strerror(errno));
    c.waiting = true;
    c.sent = Clock::now();
}

int RunLoad(const Options& o) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < static_cast<rlim_t>(o.clients) + 64) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, static_cast<rlim_t>(o.clients) + 64);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<Client> clients(static_cast<std::size_t>(o.clients));
    for (auto& c : clients) c.fd = Connect(o.port);
    std::vector<pollfd> fds(clients.size());
    for (std::size_t i = 0; i < clients.size(); ++i) fds[i] = {clients[i].fd, POLLIN, 0};

    // A warm gateway: the first request of the mode fetched once, so that the
    // start of a thousand clients at once does not count as the steady state.
    {
        Client& c = clients[0];
        SendRequest(c, o.mode);
        pollfd p{c.fd, POLLIN, 0};
        if (::poll(&p, 1, o.timeoutMs) > 0) {
            std::uint8_t scratch[4096];
            ::recv(c.fd, scratch, sizeof scratch, 0);
        }
        c.turn = 0;
    }

    rusage selfStart{};
    const auto start = Clock::now();
    const auto measureFrom = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(o.warmup));
    const auto end = measureFrom + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(o.seconds));
    for (auto& c : clients) SendRequest(c, o.mode);
    // The line's time for every exchange served so far, from the replies seen:
    // the request, the exchange's think time and this reply, one after the
    // other.  A client's wait beyond the line time served meanwhile is the
    // gateway's own doing; the exchange's answers change length (the queue
    // reply lists the ringing lines), so a goal from the mean size alone
    // would misjudge a round of long answers as a slow gateway.
    double lineTimeServed = 0;
    const double requestWire = MeanWireBytes(RequestFor(o.mode, 0));

    std::vector<double> latencies;
    std::vector<double> beyondLine; // ms each wait took beyond the line time served
    long replies = 0, losses = 0;
    std::map<Bytes, double> wireBytes; // reply payload -> its mean frame size
    double replyWire = 0;
    double cpuStart = 0;
    bool measuring = false;
    std::uint8_t buffer[4096];
    while (true) {
        const auto now = Clock::now();
        if (!measuring && now >= measureFrom) {
            measuring = true;
            if (o.gatewayPid) cpuStart = CpuSeconds(o.gatewayPid);
            ::getrusage(RUSAGE_SELF, &selfStart);
        }
        if (now >= end) break;
        const int ready = ::poll(fds.data(), fds.size(), 5);
        if (ready < 0 && errno != EINTR) Die(std::string("poll: ") + std::strerror(errno));
        const auto after = Clock::now();
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& c = clients[i];
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n == 0) Die("the gateway closed a connection");
                if (n > 0 && c.waiting) {
                    double wire = 0;
                    if (o.lineBaud) {
                        const Bytes payload(buffer, buffer + n);
                        auto [it, fresh] = wireBytes.try_emplace(payload, 0.0);
                        if (fresh) it->second = MeanWireBytes(payload);
                        wire = it->second;
                        lineTimeServed +=
                            (requestWire + wire) * 10.0 / o.lineBaud + o.thinkMs / 1000.0;
                    }
                    if (measuring) {
                        latencies.push_back(
                            std::chrono::duration<double, std::milli>(after - c.sent).count());
                        ++replies;
                        ++c.replies;
                        if (o.lineBaud) {
                            replyWire += wire;
                            beyondLine.push_back(latencies.back() -
                                                 (lineTimeServed - c.lineAtSend) * 1000.0);
                        }
                    }
                    c.waiting = false;
                    SendRequest(c, o.mode);
                    c.lineAtSend = lineTimeServed;
                }
            } else if (c.waiting && after - c.sent > std::chrono::milliseconds(o.timeoutMs)) {
                if (measuring) ++losses;
                SendRequest(c, o.mode);
                c.lineAtSend = lineTimeServed;
            }
        }
    }
    const double cpu = o.gatewayPid ? CpuSeconds(o.gatewayPid) - cpuStart : 0;
    rusage selfEnd{};
    ::getrusage(RUSAGE_SELF, &selfEnd);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    const double selfCpu = seconds(selfEnd.ru_utime) + seconds(selfEnd.ru_stime) -
                           seconds(selfStart.ru_utime) - seconds(selfStart.ru_stime);
    for (auto& c : clients) ::close(c.fd);

    std::printf("mode=%s clients=%d seconds=%.1f replies=%ld rate=%.1f/s p50=%.3fms p99=%.3fms "
                "losses=%ld",
                o.mode.c_str(), o.clients, o.seconds, replies,
                static_cast<double>(replies) / o.seconds, Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), losses);
    if (o.gatewayPid)
        std::printf(" gateway_cpu=%.2fs (%.0f%%) gateway_peak_rss=%ldKiB", cpu,
                    100.0 * cpu / o.seconds, PeakKiB(o.gatewayPid));
    std::printf(" bench_cpu=%.0f%%", 100.0 * selfCpu / o.seconds);
    if (o.lineBaud && replies > 0) {
        // One request at a time: the request, the exchange's think time and
        // the reply follow each other on the line.
        const double meanReplyWire = replyWire / static_cast<double>(replies);
        const double roundTripS =
            (requestWire + meanReplyWire) * 10.0 / o.lineBaud + o.thinkMs / 1000.0;
        const double limit = 1.0 / roundTripS;
        const double rate = static_cast<double>(replies) / o.seconds;
        std::vector<double> perClient;
        for (const Client& c : clients)
            perClient.push_back(static_cast<double>(c.replies) / o.seconds);
        std::sort(perClient.begin(), perClient.end());
        std::printf(" baud=%u line_limit=%.1f/s (request %.1f B + reply %.1f B on the wire, think "
                    "%.1f ms) of_limit=%.0f%% client_rate_min=%.2f/s p50=%.2f/s max=%.2f/s",
                    o.lineBaud, limit, requestWire, meanReplyWire, o.thinkMs, 100.0 * rate / limit,
                    perClient.front(), perClient[perClient.size() / 2], perClient.back());
        // What a client may expect at worst when the line is shared fairly:
        // every other client's round trip before its own, plus one tick.
        std::printf(" p99_goal=%.0fms", (o.clients * roundTripS + 0.1) * 1000.0);
        // The same goal with the line time really served during each wait in
        // place of the mean round trip: at most one tick (100 ms) beyond it.
        std::printf(" p99_beyond_line=%.0fms", Percentile(beyondLine, 0.99));
    }
    std::printf("\n");
    return 0;
}

// The gateway's own cost while nobody uses it: CPU share over the period and
// its resident memory.
int RunIdle(const Options& o) {
    const double before = CpuSeconds(o.gatewayPid);
    const auto start = Clock::now();
    ::usleep(static_cast<useconds_t>(o.idleSeconds * 1e6));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds(o.gatewayPid) - before;
    std::printf("idle seconds=%.0f gateway_cpu=%.2fs (%.2f%% of one CPU) gateway_rss=%ldKiB "
                "gateway_peak_rss=%ldKiB\n",
                seconds, cpu, 100.0 * cpu / seconds, StatusKiB(o.gatewayPid, "VmRSS"),
                PeakKiB(o.gatewayPid));
    return 0;
}

// Round trips of framed requests straight to the exchange on a serial device.
int RunDirect(const Options& o) {
    const int fd = ::open(o.direct.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) Die("cannot open " + o.direct + ": " + std::strerror(errno));
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    vantor::FrameDecoder decoder;
    int sequence = -1, gotSequence = -2;
    decoder.onPacket = [&](int, const std::uint8_t* data) { gotSequence = data[0]; };
    std::vector<double> times;
    std::uint8_t buffer[1024];
    const Bytes request = {0x21};
    for (int i = 0; i < o.directCount; ++i) {
        sequence = (i + 1) & 0xFF;
        const auto frame = vantor::EncodeFrame(static_cast<std::uint8_t>(sequence), request);
        const auto sent = Clock::now();
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            Die(std::string("write: ") + std::strerror(errno));
        while (gotSequence != sequence) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, o.timeoutMs) <= 0) Die("no reply from the exchange");
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) Die("read failed");
            decoder.feed(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    ::close(fd);
    std::printf("direct round trips=%zu p50=%.3fms p99=%.3fms\n", times.size(),
                Percentile(times, 0.5), Percentile(times, 0.99));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    if (o.idleSeconds > 0) return RunIdle(o);
    return o.direct.empty() ? RunLoad(o) : RunDirect(o);
}
