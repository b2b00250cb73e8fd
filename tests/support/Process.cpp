#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vantor::test {

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
};

Pipe MakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw ProcessError(std::string("pipe2: ") + std::strerror(errno));
    return {fds[0], fds[1]};
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Resolves a bare program name through PATH before forking, so the child
// only has to call execve.
std::string ResolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty PATH element means the current directory.
        std::string candidate =
            (end > start ? dirs.substr(start, end - start) : std::string(".")) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return program; // execve reports ENOENT
}

std::string FileName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the child reports through the error pipe when it cannot exec.
struct ChildFailure {
    int stage; // 1 chdir, 2 execve
    int error;
};

} // namespace

Process::Process(std::string program, ProcessOptions options) : program_(ResolveProgram(program)) {
    echoPrefix_ = options.echoPrefix.empty() ? FileName(program_) : options.echoPrefix;
    const char* echoEnv = std::getenv("VANTOR_TEST_ECHO");
    echo_ = options.echo || (echoEnv && std::string_view(echoEnv) == "1");

    // Everything the child needs is prepared here: after fork only
    // async-signal-safe calls are allowed (the test process has threads).
    std::vector<std::string> argStore;
    argStore.push_back(program_);
    for (auto& a : options.args) argStore.push_back(a);
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> envMap;
    if (options.inheritEnvironment) {
        for (char** e = environ; e && *e; ++e) {
            std::string_view kv(*e);
            auto eq = kv.find('=');
            if (eq == std::string_view::npos) continue;
            envMap[std::string(kv.substr(0, eq))] = std::string(kv.substr(eq + 1));
        }
    }
    for (auto& name : options.unsetEnv) envMap.erase(name);
    for (auto& [k, v] : options.env) envMap[k] = v;
    std::vector<std::string> envStore;
    for (auto& [k, v] : envMap) envStore.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string workDir = options.workingDirectory;
    const char* workDirC = workDir.empty() ? nullptr : workDir.c_str();

    Pipe in = MakePipe(), out, err, failure, wake;
    try {
        out = MakePipe();
        err = MakePipe();
        failure = MakePipe();
        wake = MakePipe();
    } catch (...) {
        for (int fd : {in.read, in.write, out.read, out.write, err.read, err.write, failure.read,
                       failure.write})
            if (fd >= 0) ::close(fd);
        throw;
    }
    const pid_t parent = ::getpid();

    pid_t pid = ::fork();
    if (pid < 0) {
        int e = errno;
        for (int fd : {in.read, in.write, out.read, out.write, err.read, err.write, failure.read,
                       failure.write, wake.read, wake.write})
            ::close(fd);
        throw ProcessError(std::string("fork: ") + std::strerror(e));
    }
    if (pid == 0) {
        // Child.  A dying test must not leave the program behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int s = 1; s < NSIG; ++s)
            ::sigaction(s, &dfl, nullptr); // fails harmlessly for KILL/STOP
        ::dup2(in.read, 0);
        ::dup2(out.write, 1);
        ::dup2(err.write, 2);
        // Descriptors the test opened without O_CLOEXEC (sockets, pty masters)
        // must not leak into the program.
        if (::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
            long max = ::sysconf(_SC_OPEN_MAX);
            if (max < 0 || max > 65536) max = 65536;
            for (int fd = 3; fd < max; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        ChildFailure f{0, 0};
        if (workDirC && ::chdir(workDirC) != 0) {
            f = {1, errno};
        } else {
            ::execve(argv[0], argv.data(), envp.data());
            f = {2, errno};
        }
        [[maybe_unused]] auto n = ::write(failure.write, &f, sizeof f);
        ::_exit(127);
    }

    // Parent.
    ::close(in.read);
    ::close(out.write);
    ::close(err.write);
    ::close(failure.write);
    ChildFailure f{0, 0};
    ssize_t got;
    do {
        got = ::read(failure.read, &f, sizeof f);
    } while (got < 0 && errno == EINTR);
    ::close(failure.read);
    if (got == static_cast<ssize_t>(sizeof f)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        for (int fd : {in.write, out.read, err.read, wake.read, wake.write}) ::close(fd);
        throw ProcessError((f.stage == 1 ? "cannot enter " + workDir : "cannot run " + program_) +
                           ": " + std::strerror(f.error));
    }

    pid_ = pid;
    stdinFd_ = in.write;
    stdoutFd_ = out.read;
    stderrFd_ = err.read;
    wakeRead_ = wake.read;
    wakeWrite_ = wake.write;
    reader_ = std::thread([this] { readerLoop(); });
}

Process::~Process() {
    CloseStdin();
    if (!reaped_) {
        Signal(SIGTERM);
        if (!WaitExit(Millis(3000))) Kill();
    }
    stopReader();
}

void Process::stopReader() {
    if (reader_.joinable()) {
        char b = 1;
        [[maybe_unused]] auto n = ::write(wakeWrite_, &b, 1);
        reader_.join();
    }
    CloseFd(stdoutFd_);
    CloseFd(stderrFd_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

void Process::readerLoop() {
    char chunk[4096];
    for (;;) {
        pollfd fds[3];
        int n = 0;
        fds[n++] = {wakeRead_, POLLIN, 0};
        int outIndex = -1, errIndex = -1;
        if (stdoutFd_ >= 0) {
            outIndex = n;
            fds[n++] = {stdoutFd_, POLLIN, 0};
        }
        if (stderrFd_ >= 0) {
            errIndex = n;
            fds[n++] = {stderrFd_, POLLIN, 0};
        }
        if (n == 1) return; // both streams ended
        int r = ::poll(fds, n, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        for (int which : {outIndex, errIndex}) {
            if (which < 0 || !fds[which].revents) continue;
            int& fd = which == outIndex ? stdoutFd_ : stderrFd_;
            StreamBuffer& b = which == outIndex ? out_ : err_;
            ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            std::lock_guard lock(mutex_);
            if (got <= 0) {
                if (b.partialStart < b.bytes.size()) {
                    b.lines.push_back(b.bytes.substr(b.partialStart));
                    b.partialStart = b.bytes.size();
                }
                b.ended = true;
                ::close(fd);
                fd = -1;
            } else {
                append(b, chunk, static_cast<std::size_t>(got),
                       which == outIndex ? "" : " (stderr)");
            }
            changed_.notify_all();
        }
    }
}

void Process::append(StreamBuffer& b, const char* data, std::size_t size, const char* tag) {
    b.bytes.append(data, size);
    for (;;) {
        auto nl = b.bytes.find('\n', b.partialStart);
        if (nl == std::string::npos) break;
        b.lines.push_back(b.bytes.substr(b.partialStart, nl - b.partialStart));
        b.partialStart = nl + 1;
        if (echo_)
            std::fprintf(stderr, "[%s%s] %s\n", echoPrefix_.c_str(), tag, b.lines.back().c_str());
    }
}

bool Process::Write(std::string_view bytes) {
    if (stdinFd_ < 0) return false;
    // A child that has gone away must give EPIPE here, not kill the test.
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    bool ok = true;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(stdinFd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) {
                timespec zero{0, 0};
                ::sigtimedwait(&pipeSet, nullptr, &zero);
            }
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

void Process::CloseStdin() { CloseFd(stdinFd_); }

template <class Match>
std::optional<std::string> Process::waitFor(Match match, Millis timeout, Stream stream,
                                            std::size_t* cursor) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    StreamBuffer& b = buffer(stream);
    std::size_t& at = cursor ? *cursor : b.cursor;
    for (;;) {
        while (at < b.lines.size()) {
            const std::string& line = b.lines[at++];
            if (match(line)) return line;
        }
        if (b.ended) return std::nullopt;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && at >= b.lines.size())
            return std::nullopt;
    }
}

std::optional<std::string> Process::WaitForLine(std::string_view substring, Millis timeout,
                                                Stream stream) {
    return waitFor([&](const std::string& l) { return l.find(substring) != std::string::npos; },
                   timeout, stream);
}

std::optional<std::string> Process::WaitForLine(const std::regex& pattern, Millis timeout,
                                                Stream stream) {
    return waitFor([&](const std::string& l) { return std::regex_search(l, pattern); }, timeout,
                   stream);
}

std::optional<std::string> Process::WaitForLineAfter(std::size_t& cursor,
                                                     std::string_view substring, Millis timeout,
                                                     Stream stream) {
    return waitFor([&](const std::string& l) { return l.find(substring) != std::string::npos; },
                   timeout, stream, &cursor);
}

std::optional<std::string> Process::WaitForLineAfter(std::size_t& cursor, const std::regex& pattern,
                                                     Millis timeout, Stream stream) {
    return waitFor([&](const std::string& l) { return std::regex_search(l, pattern); }, timeout,
                   stream, &cursor);
}

std::optional<std::string> Process::ReadLine(Millis timeout, Stream stream) {
    return waitFor([](const std::string&) { return true; }, timeout, stream);
}

std::vector<std::string> Process::Lines(Stream stream) const {
    std::lock_guard lock(mutex_);
    return buffer(stream).lines;
}

std::string Process::Output(Stream stream) const {
    std::lock_guard lock(mutex_);
    return buffer(stream).bytes;
}

bool Process::HasLine(std::string_view substring, Stream stream) const {
    std::lock_guard lock(mutex_);
    for (auto& l : buffer(stream).lines)
        if (l.find(substring) != std::string::npos) return true;
    return false;
}

void Process::SkipSeenLines(Stream stream) {
    std::lock_guard lock(mutex_);
    StreamBuffer& b = buffer(stream);
    b.cursor = b.lines.size();
}

bool Process::reap(bool block) {
    if (reaped_) return true;
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            status_ = status;
            return true;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) { // ECHILD: someone else reaped it; nothing left to wait for
            reaped_ = true;
            status_ = 0;
            return true;
        }
        return false;
    }
}

bool Process::Signal(int sig) {
    if (reap(false)) return false;
    return ::kill(pid_, sig) == 0;
}

bool Process::Running() { return !reap(false); }

std::optional<int> Process::WaitExit(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (reap(false)) break;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(Millis(2));
    }
    // What the process wrote before it ended may still be in the pipes: the
    // caller reads its output next, so wait (briefly) for both to end.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, Millis(2000), [this] {
        return (out_.ended || stdoutFd_ < 0) && (err_.ended || stderrFd_ < 0);
    });
    return status_;
}

int Process::Kill() {
    if (!reap(false)) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    return status_;
}

int Process::ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int Process::TermSignal(int status) { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }

} // namespace vantor::test
