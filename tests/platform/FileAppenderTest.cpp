#include "platform/PosixFileAppender.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantor {
namespace {

namespace fs = std::filesystem;

class FileAppenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vantor-append-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    fs::path dir_;
};

TEST_F(FileAppenderTest, CreatesThenAppendsEveryByteUnchanged) {
    auto appender = MakeFileAppender();
    const std::string path = (dir_ / "DATA.NEW").string();
    const std::string first = std::string("15.03 08:01 \x8a\x9e\xe8 21 0:12", 24) + "\r\n";
    const std::string second("\x00\xff line two\r\n", 13);
    ASSERT_TRUE(appender->Append(path, first)) << appender->errorText();
    ASSERT_TRUE(appender->Append(path, second)) << appender->errorText();
    EXPECT_EQ(Slurp(path), first + second);
    EXPECT_EQ(fs::status(path).permissions() & (fs::perms::group_write | fs::perms::others_write),
              fs::perms::none);
}

TEST_F(FileAppenderTest, FailsWithoutWaitingWhileAnotherProcessHoldsTheLock) {
    const std::string path = (dir_ / "locked.txt").string();
    auto appender = MakeFileAppender();
    ASSERT_TRUE(appender->Append(path, "old\r\n"));

    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls in the child.
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(path.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fd < 0 || ::fcntl(fd, F_SETLKW, &lock) != 0) ::_exit(2);
        const char ok = 'L';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(3);
        char c;
        while (::read(release[0], &c, 1) > 0) {}
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'L');

    EXPECT_FALSE(appender->Append(path, "new\r\n"));
    EXPECT_NE(appender->errorText().find(path), std::string::npos) << appender->errorText();
    EXPECT_NE(appender->errorText().find("locked"), std::string::npos) << appender->errorText();
    EXPECT_EQ(Slurp(path), "old\r\n");

    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);

    // Once the other program let go, the same record goes in.
    EXPECT_TRUE(appender->Append(path, "new\r\n")) << appender->errorText();
    EXPECT_TRUE(appender->errorText().empty());
    EXPECT_EQ(Slurp(path), "old\r\nnew\r\n");
}

TEST_F(FileAppenderTest, ReportsFilesThatCannotBeOpened) {
    auto appender = MakeFileAppender();
    const std::string missingDir = (dir_ / "no" / "such" / "DATA.NEW").string();
    EXPECT_FALSE(appender->Append(missingDir, "x\r\n"));
    EXPECT_NE(appender->errorText().find(missingDir), std::string::npos);
    EXPECT_NE(appender->errorText().find(std::strerror(ENOENT)), std::string::npos)
        << appender->errorText();
    EXPECT_FALSE(appender->Append(dir_.string(), "x\r\n")); // a directory
    EXPECT_FALSE(appender->errorText().empty());
    EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(FileAppenderTest, ReplacesAWholeSmallFileAndReadsItBack) {
    auto appender = MakeFileAppender();
    const std::string path = (dir_ / ".DATA.NEW.last").string();
    EXPECT_EQ(appender->ReadSmall(path, 100), std::nullopt);
    ASSERT_TRUE(appender->Replace(path, "pending\r\nA long record\r\n")) << appender->errorText();
    ASSERT_TRUE(appender->Replace(path, "stored\r\nB\r\n")) << appender->errorText();
    EXPECT_EQ(appender->ReadSmall(path, 100), "stored\r\nB\r\n");
    EXPECT_EQ(appender->ReadSmall(path, 10), std::nullopt);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FileAppenderTest, AWriteThatStopsHalfWayLeavesTheFileAsItWas) {
    // A file size limit makes the kernel take part of the record and refuse
    // the rest; the half record must not stay in the file, and a replaced
    // file keeps its old content whole.
    const std::string path = (dir_ / "limited.txt").string();
    const std::string state = (dir_ / "state").string();
    ASSERT_TRUE(MakeFileAppender()->Append(path, "old\r\n"));
    ASSERT_TRUE(MakeFileAppender()->Replace(state, "old\r\n"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            16, 16
        };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        auto appender = MakeFileAppender();
        const bool ok = appender->Append(path, "a record longer than the limit\r\n");
        if (ok) ::_exit(3);
        if (appender->errorText().find(path) == std::string::npos) ::_exit(4);
        ::_exit(appender->Replace(state, "a state longer than the limit\r\n") ? 5 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Slurp(path), "old\r\n");
    EXPECT_EQ(Slurp(state), "old\r\n");
    EXPECT_FALSE(fs::exists(state + ".tmp"));
}

TEST(Paths, TempPathAlwaysEndsWithASlash) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(TempPath(), "/var/tmp/");
    ::setenv("TMPDIR", "/scratch/", 1);
    EXPECT_EQ(TempPath(), "/scratch/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(TempPath(), "/tmp/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(TempPath(), "/tmp/");
    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST(Paths, ExecutablePathAndSystemErrorTexts) {
    const std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.front(), '/');
    EXPECT_EQ(fs::path(exe).filename(), "test_platform");
    EXPECT_EQ(SystemErrorMessage(EACCES), std::string(std::strerror(EACCES)) + "\r\n");
    EXPECT_NE(SystemErrorMessage(99999).find("99999"), std::string::npos);
}

} // namespace
} // namespace vantor
