// vantor-sim: a telephone exchange on the master side of a pseudo-terminal.
// The gateway opens the slave device like a serial port; this program answers
// its frames through SimSession and takes control commands on stdin.
#include "SimOptions.h"
#include "SimSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using vantor::sim::SimSession;

class Clock {
public:
    std::uint64_t nowUs() const {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - start_)
                                              .count());
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Log file with a wall-clock stamp on every line, flushed per line so that a
// test can read it while the simulator runs.
class LogFile {
public:
    explicit LogFile(const std::string& path) {
        if (path.empty()) return;
        if (path == "-") {
            file_ = stderr;
            return;
        }
        file_ = std::fopen(path.c_str(), "we");
        owned_ = file_ != nullptr;
    }
    ~LogFile() {
        if (owned_) std::fclose(file_);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    bool ok(const std::string& path) const { return path.empty() || file_ != nullptr; }

    void write(const std::string& line) {
        if (!file_) return;
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        ::localtime_r(&ts.tv_sec, &local);
        std::fprintf(file_, "%02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                     ts.tv_nsec / 1000000, line.c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The master side of a fresh pseudo-terminal, raw, non-blocking.
class PtyMaster {
public:
    PtyMaster() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            fail("posix_openpt");
            return;
        }
        ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
        char name[128];
        if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 ||
            ::ptsname_r(fd_, name, sizeof name) != 0) {
            fail("pseudo-terminal set-up");
            return;
        }
        slave_ = name;
        // The line discipline is shared by both sides: raw here means the
        // slave starts raw too, so nothing the exchange sends is echoed or
        // translated before the gateway sets its own mode.
        termios t{};
        if (::tcgetattr(fd_, &t) == 0) {
            ::cfmakeraw(&t);
            ::cfsetispeed(&t, B19200);
            ::cfsetospeed(&t, B19200);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~PtyMaster() {
        if (fd_ >= 0) ::close(fd_);
    }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    int fd() const { return fd_; }
    const std::string& slave() const { return slave_; }
    const std::string& error() const { return error_; }

private:
    void fail(const char* what) {
        error_ = std::string(what) + ": " + std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    std::string slave_;
    std::string error_;
};

// A symlink to the slave device for the lifetime of the simulator.  It only
// replaces an existing symlink, never a file, and removes only its own link.
class DeviceLink {
public:
    DeviceLink(std::string path, const std::string& target)
        : path_(std::move(path)), target_(target) {
        if (path_.empty()) return;
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error_ = path_ + " exists and is not a symlink";
                return;
            }
            ::unlink(path_.c_str());
        }
        if (::symlink(target_.c_str(), path_.c_str()) != 0) {
            error_ = "symlink " + path_ + ": " + std::strerror(errno);
            return;
        }
        made_ = true;
    }
    ~DeviceLink() {
        if (!made_) return;
        char buf[256];
        ssize_t n = ::readlink(path_.c_str(), buf, sizeof buf - 1);
        if (n >= 0 && std::string(buf, static_cast<std::size_t>(n)) == target_)
            ::unlink(path_.c_str());
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    const std::string& error() const { return error_; }

private:
    std::string path_, target_, error_;
    bool made_ = false;
};

// Who has the line open.  The gateway opens the device with TIOCEXCL; on a
// pseudo-terminal that flag outlives the gateway's close (the master keeps
// the terminal alive), so without help an unprivileged gateway could never
// open the line a second time.  The simulator therefore holds a descriptor of
// its own on the slave, counts the other openers through inotify (one event
// per open file description, whatever dup or fork did to it) and, when the
// last of them has closed, clears the exclusive flag and discards what the
// closed opener did not read.  Without inotify it falls back to watching for
// the hang-up that a pty master reports when nobody has the slave open.
class OpenerWatch {
public:
    explicit OpenerWatch(const std::string& slave) {
        held_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (held_ < 0) return;
        notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_ >= 0 && ::inotify_add_watch(notify_, slave.c_str(), IN_OPEN | IN_CLOSE) >= 0)
            return;
        if (notify_ >= 0) ::close(notify_);
        notify_ = -1;
        ::close(held_);
        held_ = -1;
    }
    ~OpenerWatch() {
        if (notify_ >= 0) ::close(notify_);
        if (held_ >= 0) ::close(held_);
    }
    OpenerWatch(const OpenerWatch&) = delete;
    OpenerWatch& operator=(const OpenerWatch&) = delete;

    bool active() const { return notify_ >= 0; }
    int fd() const { return notify_; }
    int openers() const { return openers_; }

    // Reads the pending events.  A quick open and close may come in one
    // batch: both are reported, in that order.
    struct Change {
        bool opened = false; // the first opener came
        bool closed = false; // and/or the last one left
    };
    Change update() {
        Change change;
        alignas(inotify_event) char buf[4096];
        for (;;) {
            ssize_t n = ::read(notify_, buf, sizeof buf);
            if (n <= 0) break;
            for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
                if (e->mask & IN_OPEN) {
                    if (openers_++ == 0) change.opened = true;
                }
                if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    if (openers_ > 0 && --openers_ == 0) change.closed = true;
                }
                off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        if (openers_ > 0) change.closed = false; // somebody is (again) there
        if (change.closed) {
            ::ioctl(held_, TIOCNXCL);
            ::tcflush(held_, TCIFLUSH);
        }
        return change;
    }

private:
    int held_ = -1;
    int notify_ = -1;
    int openers_ = 0;
};

// Is the slave side closed by everyone?  A pty master reports a hang-up
// then, and reads fail with EIO.
bool SlaveHungUp(int master) {
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

int Run(const vantor::sim::SimOptions& opt) {
    LogFile log(opt.logPath);
    if (!log.ok(opt.logPath)) {
        std::fprintf(stderr, "vantor-sim: cannot write log %s: %s\n", opt.logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    PtyMaster pty;
    if (pty.fd() < 0) {
        std::fprintf(stderr, "vantor-sim: %s\n", pty.error().c_str());
        return 1;
    }
    DeviceLink link(opt.link, pty.slave());
    if (!link.error().empty()) {
        std::fprintf(stderr, "vantor-sim: %s\n", link.error().c_str());
        return 1;
    }

    // Before READY, so that no opener goes unseen.
    OpenerWatch watch(pty.slave());
    if (!watch.active())
        log.write(
            "-- cannot watch the line's openers; a gateway without root rights may not reopen it");

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &mask, nullptr);
    int sigfd = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigfd < 0) {
        std::fprintf(stderr, "vantor-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    // stdin stays blocking: it may be a terminal shared with the shell, and
    // one read after poll reported input never blocks.

    Clock clock;
    SimSession session(
        opt.model, opt.faults, [&log](const std::string& line) { log.write(line); },
        [](const std::string& line) { PrintLine(line); }, opt.line);

    log.write(
        "-- exchange on " + pty.slave() + (opt.link.empty() ? "" : " (link " + opt.link + ")") +
        ", " + std::to_string(opt.model.ports) + " ports" +
        (opt.line.baud ? ", line " + std::to_string(opt.line.baud) + " baud" : "") +
        (opt.line.thinkMs ? ", " + std::to_string(opt.line.thinkMs) + " ms per request" : ""));
    if (!opt.link.empty()) PrintLine("LINK " + opt.link + " -> " + pty.slave());
    PrintLine("READY " + pty.slave());

    // With the watch, the line counts as open while anybody has it open.
    // Without, a pty does not hang up before its first opener: open until the first hang-up.
    bool lineOpen = !watch.active();
    bool stdinOpen = true;
    std::string stdinLine;
    std::vector<std::uint8_t> writing; // the chunk being written
    const int master = pty.fd();
    int exitCode = 0;

    auto openLine = [&] {
        lineOpen = true;
        session.DropOutput();
        session.ResetReceiver();
        log.write("-- line opened");
        PrintLine("EVENT line opened");
    };
    auto closeLine = [&] {
        lineOpen = false;
        writing.clear();
        session.DropOutput();
        log.write("-- line closed by the gateway");
        PrintLine("EVENT line closed");
    };

    for (bool quit = false; !quit;) {
        const std::uint64_t now = clock.nowUs();
        // Write every chunk that is due, one write call each (split mode
        // relies on that); stop when the line pushes back.
        while (lineOpen) {
            if (writing.empty()) {
                auto chunk = session.PopDue(now);
                if (!chunk) break;
                writing = std::move(*chunk);
            }
            ssize_t n = ::write(master, writing.data(), writing.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) break;
                closeLine();
                break;
            }
            writing.erase(writing.begin(), writing.begin() + n);
            if (!writing.empty()) break;
        }

        // Microseconds: a line at speed has a byte due every few dozen of them.
        std::uint64_t timeoutUs = 1000000;
        if (auto due = session.NextDueUs(); due && writing.empty())
            timeoutUs = std::min<std::uint64_t>(*due > now ? *due - now : 0, timeoutUs);
        if (!lineOpen && !watch.active())
            timeoutUs = std::min<std::uint64_t>(timeoutUs, 20000); // look for a new opener
        const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                               static_cast<long>(timeoutUs % 1000000) * 1000};

        pollfd fds[4];
        int n = 0;
        fds[n++] = {sigfd, POLLIN, 0};
        int stdinIndex = -1, masterIndex = -1, watchIndex = -1;
        if (stdinOpen) {
            stdinIndex = n;
            fds[n++] = {0, POLLIN, 0};
        }
        if (watch.active()) {
            watchIndex = n;
            fds[n++] = {watch.fd(), POLLIN, 0};
        }
        if (lineOpen || watch.active()) {
            masterIndex = n;
            fds[n++] = {master, static_cast<short>(POLLIN | (writing.empty() ? 0 : POLLOUT)), 0};
        }
        if (::ppoll(fds, static_cast<nfds_t>(n), &timeout, nullptr) < 0 && errno != EINTR) {
            std::fprintf(stderr, "vantor-sim: poll: %s\n", std::strerror(errno));
            exitCode = 1;
            break;
        }

        if (fds[0].revents) {
            signalfd_siginfo info{};
            if (::read(sigfd, &info, sizeof info) > 0)
                log.write("-- signal " + std::to_string(info.ssi_signo) + ", leaving");
            break;
        }

        // Openers first: their open happened before anything they wrote.
        if (watchIndex >= 0 && fds[watchIndex].revents) {
            const auto change = watch.update();
            if (change.opened && !lineOpen) openLine();
            if (change.closed && lineOpen) closeLine();
        }
        if (masterIndex >= 0 && fds[masterIndex].revents) {
            bool gotData = false;
            for (;;) {
                std::uint8_t buf[4096];
                ssize_t got = ::read(master, buf, sizeof buf);
                if (got > 0) {
                    gotData = true;
                    session.Receive(std::span(buf, static_cast<std::size_t>(got)), clock.nowUs());
                    continue;
                }
                if (got < 0 && errno == EINTR) continue;
                if (got < 0 && errno == EIO && lineOpen) closeLine();
                break;
            }
            if (lineOpen && !gotData && (fds[masterIndex].revents & (POLLHUP | POLLERR)))
                closeLine();
            // What a departed opener asked is answered to nobody.
            if (!lineOpen) session.DropOutput();
        } else if (!lineOpen && !watch.active() && !SlaveHungUp(master)) {
            openLine();
        }

        if (stdinIndex >= 0 && fds[stdinIndex].revents) {
            char buf[1024];
            ssize_t got = ::read(0, buf, sizeof buf);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                stdinOpen = false; // keep running; signals still end the program
            } else if (got > 0) {
                stdinLine.append(buf, static_cast<std::size_t>(got));
                std::size_t nl;
                while (!quit && (nl = stdinLine.find('\n')) != std::string::npos) {
                    auto result =
                        session.Command(std::string_view(stdinLine).substr(0, nl), clock.nowUs());
                    stdinLine.erase(0, nl + 1);
                    if (!result.reply.empty()) PrintLine(result.reply);
                    quit = result.quit;
                }
                if (stdinLine.size() > 4096) {
                    PrintLine("ERR command line too long");
                    stdinLine.clear();
                }
            }
        }
    }
    log.write("-- " + session.StatusLine());
    ::close(sigfd);
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // Started with stdin, stdout or stderr closed ("<&-"), the pseudo-terminal
    // would get descriptor 0 and be read as the command stream: keep the
    // three standard descriptors taken.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
    std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = vantor::sim::ParseCommandLine(args);
    if (!parsed.options) {
        std::fprintf(stderr, "vantor-sim: %s (see --help)\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(vantor::sim::Usage("vantor-sim").c_str(), stdout);
        return 0;
    }
    return Run(*parsed.options);
}
