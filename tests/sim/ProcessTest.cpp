// The child-process harness that every end-to-end test stands on.
#include "support/Process.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

using vantor::test::Process;
using vantor::test::ProcessError;
using vantor::test::ProcessOptions;
using namespace std::chrono_literals;

namespace {

ProcessOptions Args(std::vector<std::string> args) {
    ProcessOptions o;
    o.args = std::move(args);
    return o;
}

ProcessOptions Shell(const std::string& script, std::vector<std::string> extra = {}) {
    ProcessOptions o;
    o.args = {"-c", script, "sh"};
    for (auto& e : extra) o.args.push_back(e);
    return o;
}

int CountOpenFds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

} // namespace

TEST(Process, PassesArgumentsEnvironmentAndWorkingDirectory) {
    auto dir = std::filesystem::temp_directory_path();
    ProcessOptions o = Shell("echo \"arg=$1\"; echo \"foo=$FOO\"; echo \"home=${HOME-unset}\"; pwd",
                             {"with space"});
    o.env["FOO"] = "bar baz";
    o.unsetEnv = {"HOME"};
    o.workingDirectory = dir.string();
    Process p("sh", o);
    EXPECT_TRUE(p.WaitForLine("arg=with space", 5s));
    EXPECT_TRUE(p.WaitForLine("foo=bar baz", 5s));
    EXPECT_TRUE(p.WaitForLine("home=unset", 5s));
    auto pwd = p.ReadLine(5s);
    ASSERT_TRUE(pwd);
    EXPECT_EQ(std::filesystem::canonical(*pwd), std::filesystem::canonical(dir));
    auto status = p.WaitExit(5s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
}

TEST(Process, StdinStdoutStderrAreSeparatePipes) {
    Process p("sh", Shell("while read l; do echo \"out:$l\"; echo \"err:$l\" >&2; done; exit 3"));
    ASSERT_TRUE(p.WriteLine("one"));
    ASSERT_TRUE(p.WriteLine("two"));
    EXPECT_EQ(p.WaitForLine("out:two", 5s).value_or(""), "out:two");
    EXPECT_TRUE(p.WaitForLine("err:two", 5s, Process::Stream::Stderr));
    // The cursor moved past both lines; the history still has them.
    EXPECT_TRUE(p.HasLine("out:one"));
    EXPECT_FALSE(p.HasLine("err:one"));
    EXPECT_TRUE(p.HasLine("err:one", Process::Stream::Stderr));
    p.CloseStdin();
    auto status = p.WaitExit(5s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 3);
    EXPECT_EQ(p.Lines(), (std::vector<std::string>{"out:one", "out:two"}));
}

TEST(Process, WaitsMatchRegexAndGiveUpAtEndOrTimeout) {
    Process p("sh", Shell("echo 'READY /dev/pts/7'; printf 'tail without newline'"));
    std::regex ready(R"(^READY (/dev/pts/\d+)$)");
    auto line = p.WaitForLine(ready, 5s);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "READY /dev/pts/7");
    // The unfinished last line still counts once the stream ends.
    EXPECT_EQ(p.ReadLine(5s).value_or(""), "tail without newline");
    EXPECT_FALSE(p.WaitForLine("never", 5s)); // stream ended: returns without waiting it out
    ASSERT_TRUE(p.WaitExit(5s));

    Process quiet("sleep", Args({"30"}));
    EXPECT_FALSE(quiet.ReadLine(50ms));
    EXPECT_TRUE(quiet.Running());
}

TEST(Process, SkipSeenLinesOnlyLooksAhead) {
    Process p("sh", Shell("echo 'marker one'; echo sync >&2; read x; echo 'marker two'"));
    // Once stderr has "sync", stdout's earlier line is in as well.
    ASSERT_TRUE(p.WaitForLine("sync", 5s, Process::Stream::Stderr));
    p.SkipSeenLines();
    p.WriteLine("go");
    EXPECT_EQ(p.WaitForLine("marker", 5s).value_or(""), "marker two");
}

TEST(Process, ReportsProgramsThatCannotStart) {
    EXPECT_THROW(Process("/nonexistent/program"), ProcessError);
    ProcessOptions o;
    o.workingDirectory = "/nonexistent/dir";
    EXPECT_THROW(Process("sh", o), ProcessError);
}

TEST(Process, SignalsAndExitStatus) {
    Process p("sh", Shell("trap 'echo got-usr1' USR1; echo armed; while :; do sleep 0.05; done"));
    ASSERT_TRUE(p.WaitForLine("armed", 5s));
    ASSERT_TRUE(p.Signal(SIGUSR1));
    EXPECT_TRUE(p.WaitForLine("got-usr1", 5s));
    EXPECT_TRUE(p.Running());
    int status = p.Kill();
    EXPECT_EQ(Process::TermSignal(status), SIGKILL);
    EXPECT_EQ(Process::ExitCode(status), -1);
    EXPECT_FALSE(p.Running());
    EXPECT_FALSE(p.Signal(SIGTERM)); // already reaped: nothing to signal
}

TEST(Process, DestructionStopsEvenAStubbornChildAndLeaksNothing) {
    const int before = CountOpenFds();
    pid_t pid;
    {
        Process p("sh", Shell("trap '' TERM; echo armed; while :; do sleep 0.05; done"));
        ASSERT_TRUE(p.WaitForLine("armed", 5s));
        pid = p.pid();
    }
    // Reaped: the pid no longer names a process (not even a zombie).
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    for (int i = 0; i < 5; ++i) {
        Process p("true");
        p.WaitExit(5s);
    }
    EXPECT_EQ(CountOpenFds(), before);
}

TEST(Process, TestDescriptorsDoNotLeakIntoTheChild) {
    int fd = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    Process p("sh", Shell("if [ -e /proc/$$/fd/$1 ]; then echo leaked; else echo clean; fi",
                          {std::to_string(fd)}));
    EXPECT_EQ(p.ReadLine(5s).value_or(""), "clean");
    ::close(fd);
}

TEST(Process, KeepsDrainingOutputWhileTheTestIsNotReading) {
    // 100000 lines are far more than a pipe holds: without the reader thread
    // the child would block and never exit.
    Process p("seq", Args({"1", "100000"}));
    auto status = p.WaitExit(30s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
    ASSERT_TRUE(p.WaitForLine(std::regex("^100000$"), 5s));
    EXPECT_EQ(p.Lines().size(), 100000u);
}

TEST(Process, WritingToAChildThatHasGoneFailsQuietly) {
    Process p("true");
    ASSERT_TRUE(p.WaitExit(5s));
    // The read end is gone with the child: EPIPE, and no SIGPIPE kills the test.
    std::string big(1 << 17, 'x');
    EXPECT_FALSE(p.Write(big));
}
