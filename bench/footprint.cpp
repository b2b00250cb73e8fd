// vantor-footprint: what a started gateway holds, and how it takes a stop
// sent right after its start.
//
//   vantor-footprint --gateway PATH --home DIR [--settle-ms N] MODE...
//       MODE is headless, service or desktop (Qt's offscreen platform).  Each
//       starts the gateway with DIR as its folder, waits N ms (default 3000)
//       and prints the shared objects it maps, how many of them are Qt's,
//       and its resident memory (Rss, Pss and private pages of
//       /proc/PID/smaps_rollup); then stops it with SIGTERM.
//   vantor-footprint --gateway PATH --home DIR --early-stop RUNS [DELAYS_US...]
//       Starts the headless gateway RUNS times per delay, sends SIGTERM that
//       many microseconds after the fork and counts how the runs ended:
//       status 0 (the stop was taken up as a close) or killed by the signal
//       (it came before the program could hold it).
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& text) {
    std::fprintf(stderr, "vantor-footprint: %s\n", text.c_str());
    std::exit(1);
}

struct Start {
    std::string gateway, home;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env; // empty value: unset
};

pid_t Spawn(const Start& start) {
    const pid_t pid = ::fork();
    if (pid < 0) Die(std::string("fork: ") + std::strerror(errno));
    if (pid > 0) return pid;
    for (const auto& [name, value] : start.env)
        value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<std::string> words{start.gateway, "--home", start.home};
    words.insert(words.end(), start.args.begin(), start.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// systemd's end of the status reports, so that the service runs as under it.
struct NotifySocket {
    explicit NotifySocket(std::string p) : path(std::move(p)) {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            Die("notify socket " + path + ": " + std::strerror(errno));
    }
    ~NotifySocket() {
        ::close(fd);
        ::unlink(path.c_str());
    }
    void Drain() {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    std::string path;
    int fd = -1;
};

struct Figures {
    std::set<std::string> sharedObjects;
    int qt = 0;
    long rssKiB = 0, pssKiB = 0, privateKiB = 0;
};

Figures Measure(pid_t pid) {
    Figures f;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find(".so") != std::string::npos) f.sharedObjects.insert(path);
    }
    for (const std::string& path : f.sharedObjects)
        if (path.find("libQt6") != std::string::npos) ++f.qt;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);) {
        std::istringstream in(line);
        std::string key;
        long kib = 0;
        in >> key >> kib;
        if (key == "Rss:") f.rssKiB = kib;
        if (key == "Pss:") f.pssKiB = kib;
        if (key == "Private_Clean:" || key == "Private_Dirty:") f.privateKiB += kib;
    }
    return f;
}

void Footprint(Start start, const std::string& mode, int settleMs) {
    std::unique_ptr<NotifySocket> notify;
    start.env.push_back({"DISPLAY", ""});
    start.env.push_back({"WAYLAND_DISPLAY", ""});
    start.env.push_back({"NOTIFY_SOCKET", ""});
    if (mode == "headless") {
        start.args.push_back("--headless");
    } else if (mode == "service") {
        notify = std::make_unique<NotifySocket>(start.home + "/notify");
        start.args.push_back("/service");
        start.env.push_back({"NOTIFY_SOCKET", notify->path});
    } else if (mode == "desktop") {
        start.env.push_back({"QT_QPA_PLATFORM", "offscreen"});
    } else {
        Die("unknown mode " + mode);
    }
    const pid_t pid = Spawn(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    if (notify) notify->Drain();
    const Figures f = Measure(pid);
    ::kill(pid, SIGTERM);
    const int status = Wait(pid);
    std::printf("%-9s shared_objects=%zu qt_libraries=%d rss=%.2fMiB pss=%.2fMiB "
                "private=%.2fMiB exit=%s\n",
                mode.c_str(), f.sharedObjects.size(), f.qt, f.rssKiB / 1024.0, f.pssKiB / 1024.0,
                f.privateKiB / 1024.0,
                WIFEXITED(status) ? std::to_string(WEXITSTATUS(status)).c_str() : "signal");
}

void EarlyStop(Start start, int runs, const std::vector<int>& delaysUs) {
    start.args.push_back("--headless");
    start.env.push_back({"DISPLAY", ""});
    start.env.push_back({"WAYLAND_DISPLAY", ""});
    for (int delay : delaysUs) {
        int clean = 0, killed = 0, other = 0;
        for (int i = 0; i < runs; ++i) {
            const pid_t pid = Spawn(start);
            const auto until = Clock::now() + std::chrono::microseconds(delay);
            while (Clock::now() < until) {
            }
            ::kill(pid, SIGTERM);
            const int status = Wait(pid);
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                ++killed;
            else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                ++clean;
            else
                ++other;
        }
        std::printf("early-stop delay=%dus runs=%d status0=%d killed_by_signal=%d other=%d\n",
                    delay, runs, clean, killed, other);
    }
}

} // namespace

int main(int argc, char** argv) {
    Start start;
    int settleMs = 3000, earlyRuns = 0;
    std::vector<std::string> modes;
    std::vector<int> delays;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--gateway")
            start.gateway = value();
        else if (a == "--home")
            start.home = value();
        else if (a == "--settle-ms")
            settleMs = std::stoi(value());
        else if (a == "--early-stop")
            earlyRuns = std::stoi(value());
        else if (earlyRuns > 0)
            delays.push_back(std::stoi(a));
        else
            modes.push_back(a);
    }
    if (start.gateway.empty() || start.home.empty())
        Die("usage: vantor-footprint --gateway PATH --home DIR [--settle-ms N] MODE... | "
            "--early-stop RUNS [DELAYS_US...]");
    if (earlyRuns > 0) {
        if (delays.empty()) delays = {0, 250, 500, 1000, 2000, 4000};
        EarlyStop(start, earlyRuns, delays);
        return 0;
    }
    for (const std::string& mode : modes) Footprint(start, mode, settleMs);
    return 0;
}
