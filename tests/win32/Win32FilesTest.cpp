// The Win32 file side: the accounting file's appender, the INI file and the
// file names of the gateway's Windows-1250 texts, the folders, the libraries.
#include "platform/DynamicLibrary.h"
#include "platform/FileSystemDirectories.h"
#include "platform/Paths.h"
#include "platform/win32/Win32FileAppender.h"
#include "platform/win32/Win32Paths.h"
#include "toolkit/IniFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vantor {
namespace {

namespace fs = std::filesystem;

// "účty" as the gateway holds it (Windows-1250) and as the file system names it.
const std::string kCp1250Name = "\xfa\xe8t\xfd";
const fs::path kUtf16Name = fs::path(L"\u00fa\u010dt\u00fd");

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Another program that locks the whole file while it runs: this test program
// itself, started with --hold-lock (main.cpp).
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr;
        ::CreatePipe(&outRead, &outWrite, &inherit, 0);
        ::CreatePipe(&inRead, &input_, &inherit, 0);
        ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" --hold-lock \"" +
                            std::wstring(path.begin(), path.end()) + L"\"";
        STARTUPINFOW start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = inRead;
        start.hStdOutput = outWrite;
        start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &start, &info)) {
            process_ = info.hProcess;
            ::CloseHandle(info.hThread);
        }
        ::CloseHandle(outWrite);
        ::CloseHandle(inRead);
        char said[8] = {};
        DWORD n = 0;
        locked_ = process_ && ::ReadFile(outRead, said, 6, &n, nullptr) && n == 6 &&
                  std::string(said, 6) == "LOCKED";
        ::CloseHandle(outRead);
    }
    ~LockHolder() { Release(); }
    bool locked() const { return locked_; }
    // Ends the other program; true when it ended well.
    bool Release() {
        if (input_) ::CloseHandle(input_);
        input_ = nullptr;
        if (!process_) return false;
        DWORD code = 1;
        const bool ended = ::WaitForSingleObject(process_, 10000) == WAIT_OBJECT_0 &&
                           ::GetExitCodeProcess(process_, &code) && code == 0;
        ::CloseHandle(process_);
        process_ = nullptr;
        return ended;
    }

private:
    HANDLE input_ = nullptr;
    HANDLE process_ = nullptr;
    bool locked_ = false;
};

TEST(Win32FileAppender, AppendsEveryByteToTheFileOfAWindows1250Name) {
    test::TempFolder dir;
    auto appender = MakeFileAppender();
    const std::string path = dir.Path() + "\\" + kCp1250Name + ".NEW";
    const std::string first = std::string("15.03 08:01 \x8a\x9e\xe8 21 0:12", 24) + "\r\n";
    const std::string second("\x00\xff line two\r\n", 13);
    ASSERT_TRUE(appender->Append(path, first)) << appender->errorText();
    ASSERT_TRUE(appender->Append(path, second)) << appender->errorText();
    fs::path onDisk = fs::path(dir.Path()) / kUtf16Name;
    onDisk += ".NEW";
    EXPECT_EQ(Slurp(onDisk), first + second);
    EXPECT_EQ(appender->LastLine(path), std::string("\x00\xff line two", 11));
}

TEST(Win32FileAppender, FailsAtOnceWhileAnotherProgramLocksOrWritesTheFile) {
    test::TempFolder dir;
    const std::string path = dir.Path() + "\\locked.txt";
    auto appender = MakeFileAppender();
    ASSERT_TRUE(appender->Append(path, "old\r\n"));
    {
        LockHolder other(path);
        ASSERT_TRUE(other.locked());
        EXPECT_FALSE(appender->Append(path, "new\r\n"));
        EXPECT_NE(appender->errorText().find(path + " is locked by another program"),
                  std::string::npos)
            << appender->errorText();
        EXPECT_EQ(Slurp(path), "old\r\n");
        EXPECT_TRUE(other.Release());
    }
    // An editor that holds the file open for writing, sharing nothing.
    HANDLE editor = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(editor, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(appender->Append(path, "new\r\n"));
    EXPECT_NE(appender->errorText().find("is locked by another program"), std::string::npos);
    ::CloseHandle(editor);
    // Once the others let go, the same record goes in.
    EXPECT_TRUE(appender->Append(path, "new\r\n")) << appender->errorText();
    EXPECT_EQ(Slurp(path), "old\r\nnew\r\n");
}

TEST(Win32FileAppender, ASmallFileIsReplacedWholeOrLeftAsItWas) {
    test::TempFolder dir;
    auto appender = MakeFileAppender();
    const std::string path = dir.Path() + "\\." + kCp1250Name + ".last";
    EXPECT_EQ(appender->ReadSmall(path, 100), std::nullopt);
    ASSERT_TRUE(appender->Replace(path, "pending\r\nA long record\r\n")) << appender->errorText();
    ASSERT_TRUE(appender->Replace(path, "stored\r\nB\r\n")) << appender->errorText();
    EXPECT_EQ(appender->ReadSmall(path, 100), "stored\r\nB\r\n");
    EXPECT_EQ(appender->ReadSmall(path, 10), std::nullopt);
    fs::path onDisk = fs::path(dir.Path()) / L".";
    onDisk += kUtf16Name;
    onDisk += ".last";
    EXPECT_EQ(Slurp(onDisk), "stored\r\nB\r\n");
    // A reader that shares no deletion keeps the file from being replaced.
    HANDLE reader = ::CreateFileW(onDisk.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(appender->Replace(path, "stored\r\nC\r\n"));
    ::CloseHandle(reader);
    EXPECT_NE(appender->errorText().find(path), std::string::npos) << appender->errorText();
    EXPECT_EQ(Slurp(onDisk), "stored\r\nB\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(Win32FileAppender, ReportsFilesThatCannotBeOpenedInTheSystemsWords) {
    test::TempFolder dir;
    auto appender = MakeFileAppender();
    const std::string missing = dir.Path() + "\\no\\such\\DATA.NEW";
    EXPECT_FALSE(appender->Append(missing, "x\r\n"));
    std::string reason = SystemErrorMessage(ERROR_PATH_NOT_FOUND);
    reason.resize(reason.size() - 2); // without its line end
    EXPECT_EQ(appender->errorText(), "File " + missing + " could not be opened: " + reason);
    EXPECT_FALSE(appender->Append(dir.Path(), "x\r\n")); // a folder
    EXPECT_FALSE(fs::exists(fs::path(dir.Path()) / "no"));
}

TEST(Win32Files, AnIniFileOfAWindows1250NameIsReplacedWholeAndLeavesNoTemporaryFile) {
    test::TempFolder dir;
    TIniFile ini(dir.Path() + "\\" + kCp1250Name + ".INI");
    ini.WriteString("Set", "Port", "COM3:19200,N,8,1");
    ini.WriteString("Set", "UctFile", kCp1250Name + ".NEW");
    EXPECT_EQ(ini.ReadString("Set", "UctFile", ""), kCp1250Name + ".NEW");
    fs::path onDisk = fs::path(dir.Path()) / kUtf16Name;
    onDisk += ".INI";
    EXPECT_EQ(Slurp(onDisk), "[Set]\r\nPort=COM3:19200,N,8,1\r\nUctFile=" + kCp1250Name + ".NEW\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(Win32Files, TheHomeIsTheProgramsFolderWhenWritableElseProgramData) {
    EXPECT_EQ(fs::path(ExecutablePath()).filename(), "test_win32.exe");
    EXPECT_EQ(TempPath().back(), '\\');
    EXPECT_EQ(SystemErrorMessage(ERROR_ACCESS_DENIED).substr(SystemErrorMessage(5).size() - 2), "\r\n");

    test::TempFolder dir;
    const WindowsHome beside = ChooseWindowsHome(dir.Path());
    EXPECT_EQ(beside.folder, dir.Path());
    EXPECT_TRUE(beside.besideProgram);
    // A folder that cannot take a file (here: one that is not there).
    const WindowsHome shared = ChooseWindowsHome(dir.Path() + "\\missing");
    EXPECT_EQ(shared.folder, ProgramDataFolder("TarvoVantor"));
    EXPECT_FALSE(shared.besideProgram);
    EXPECT_TRUE(FolderWritable(shared.folder));
}

TEST(Win32Files, LibrariesLoadByTheirDllNameWithTheSystemsReasonWhenMissing) {
    EXPECT_EQ(LibraryFileName("Zelkor.dll"), "Zelkor.dll");
    EXPECT_EQ(LibraryFileName("vantorq9.DLL"), "vantorq9.DLL");
    EXPECT_EQ(LibraryFileName("plain"), "plain.dll");
    EXPECT_EQ(LibraryFileName("C:\\x\\any.dll"), "C:\\x\\any.dll");
    DynamicLibrary missing;
    EXPECT_FALSE(missing.Open("NoSuchVantorLibrary.dll", ""));
    EXPECT_EQ(missing.ErrorText().rfind("NoSuchVantorLibrary.dll: ", 0), 0u) << missing.ErrorText();
    DynamicLibrary system;
    ASSERT_TRUE(system.Open("kernel32.dll", "")) << system.ErrorText();
    EXPECT_NE(system.Symbol("GetTickCount"), nullptr);
    EXPECT_EQ(system.Symbol("NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(system.ErrorText().rfind("NoSuchEntryPoint: ", 0), 0u) << system.ErrorText();
}

TEST(Win32Files, TheDirectoryChooserSeesDrivesAndUtf8Names) {
    FileSystemDirectories fsd;
    const auto roots = fsd.Roots();
    EXPECT_NE(std::find(roots.begin(), roots.end(), "C:\\"), roots.end());
    test::TempFolder dir;
    fs::create_directory(fs::path(dir.Path()) / kUtf16Name);
    const DirectoryListing listing = fsd.Subdirectories(dir.Path(), 10);
    const std::string utf8Name = "\xc3\xba\xc4\x8dt\xc3\xbd";
    EXPECT_EQ(listing.names, std::vector<std::string>{utf8Name});
    EXPECT_TRUE(fsd.IsDirectory(dir.Path() + "\\" + utf8Name));
    EXPECT_EQ(fsd.Absolute(dir.Path() + "\\a\\..\\b"), dir.Path() + "\\b");
}

} // namespace
} // namespace vantor
