#include "platform/win32/Win32Program.h"

#include "platform/win32/WinApi.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <mutex>
#include <streambuf>

namespace vantor {

std::vector<std::string> ProgramArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(win32::Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void LeaveCurrentFolderOutOfDllSearch() { ::SetDllDirectoryW(L""); }

namespace {

// The length of `bytes` up to the last whole UTF-8 character: a flush in the
// middle of one keeps its first bytes for the next write.
std::size_t WholeCharacters(const std::string& bytes) {
    std::size_t start = bytes.size();
    for (int back = 0; back < 4 && start > 0; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[start - 1]);
        if ((byte & 0xC0) != 0x80) {
            // The lead byte of the last character: is it whole?
            const std::size_t need = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return bytes.size() - (start - 1) >= need ? bytes.size() : start - 1;
        }
        --start;
    }
    return bytes.size(); // not UTF-8 at the end: written as it is
}

class ConsoleTextBuffer final : public std::streambuf {
public:
    explicit ConsoleTextBuffer(DWORD which) : handle_(::GetStdHandle(which)) {
        DWORD mode = 0;
        if (handle_ == INVALID_HANDLE_VALUE) handle_ = nullptr;
        console_ = handle_ && ::GetConsoleMode(handle_, &mode);
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        std::lock_guard lock(mutex_);
        pending_ += traits_type::to_char_type(c);
        if (c == '\n') WriteOut();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard lock(mutex_);
        pending_.append(s, static_cast<std::size_t>(n));
        if (std::memchr(s, '\n', static_cast<std::size_t>(n))) WriteOut();
        return n;
    }
    int sync() override {
        std::lock_guard lock(mutex_);
        WriteOut();
        return 0;
    }

private:
    void WriteOut() {
        if (!handle_) {
            pending_.clear();
            return;
        }
        if (console_) {
            const std::size_t whole = WholeCharacters(pending_);
            const std::wstring text =
                win32::WideFromUtf8(std::string_view(pending_).substr(0, whole));
            for (std::size_t at = 0; at < text.size();) {
                DWORD written = 0;
                const DWORD chunk =
                    static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 8192));
                if (!::WriteConsoleW(handle_, text.data() + at, chunk, &written, nullptr) ||
                    written == 0)
                    break;
                at += written;
            }
            pending_.erase(0, whole);
            return;
        }
        std::string bytes;
        bytes.reserve(pending_.size() + 8);
        for (const char c : pending_) {
            if (c == '\n' && (bytes.empty() || bytes.back() != '\r')) bytes += '\r';
            bytes += c;
        }
        pending_.clear();
        for (std::size_t at = 0; at < bytes.size();) {
            DWORD written = 0;
            if (!::WriteFile(handle_, bytes.data() + at, static_cast<DWORD>(bytes.size() - at),
                             &written, nullptr) ||
                written == 0)
                break; // a closed pipe: the rest is lost, the gateway goes on
            at += written;
        }
    }

    std::mutex mutex_;
    HANDLE handle_ = nullptr;
    bool console_ = false;
    std::string pending_;
};

} // namespace

void UseConsoleTextOutput() {
    // Never freed: the streams are flushed once more when the process ends,
    // after every object of main is gone.
    static ConsoleTextBuffer* const output = new ConsoleTextBuffer(STD_OUTPUT_HANDLE);
    static ConsoleTextBuffer* const error = new ConsoleTextBuffer(STD_ERROR_HANDLE);
    std::cout.rdbuf(output);
    std::cerr.rdbuf(error);
}

bool LeaveOwnConsoleWindow() {
    // A console without a window (Wine's on a terminal) is no stray window.
    if (!::GetConsoleWindow()) return false;
    DWORD processes[2];
    if (::GetConsoleProcessList(processes, 2) != 1) return false;
    // Output redirected by whoever started the program is theirs to keep.
    DWORD mode = 0;
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output && output != INVALID_HANDLE_VALUE && !::GetConsoleMode(output, &mode)) return false;
    return ::FreeConsole() != 0;
}

} // namespace vantor
