#include "platform/win32/Win32FileAppender.h"

#include "platform/win32/WinApi.h"

#include <algorithm>

namespace vantor {

using win32::UniqueHandle;

namespace {

bool LockedByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

class Win32FileAppender final : public FileAppender {
public:
    bool Append(const std::string& path, std::string_view bytes) override {
        error_.clear();
        UniqueHandle file(::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD e = ::GetLastError();
            return fail(LockedByAnother(e) ? "is locked by another program" : "could not be opened",
                        path, e);
        }
        // The whole file, however long it grows.
        OVERLAPPED whole{};
        if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                          MAXDWORD, MAXDWORD, &whole)) {
            const DWORD e = ::GetLastError();
            return fail(LockedByAnother(e) ? "is locked by another program" : "could not be locked",
                        path, e);
        }
        const bool ok = appendLocked(file.get(), path, bytes);
        OVERLAPPED again{};
        ::UnlockFileEx(file.get(), 0, MAXDWORD, MAXDWORD, &again);
        if (!ok) return false;
        if (!::CloseHandle(file.release()))
            return fail("could not be closed", path, ::GetLastError());
        return true;
    }

    std::string errorText() const override { return error_; }

    std::optional<std::string> LastLine(const std::string& path) override {
        UniqueHandle file(::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return std::nullopt;
        const LONGLONG tail = std::min<LONGLONG>(size.QuadPart, LastLineTail);
        LARGE_INTEGER from{};
        from.QuadPart = size.QuadPart - tail;
        if (!::SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN)) return std::nullopt;
        std::string bytes(static_cast<std::size_t>(tail), '\0');
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(tail), &got, nullptr))
            return std::nullopt;
        bytes.resize(got);
        return LastLineOf(std::move(bytes));
    }

    // A temporary file beside the target, written and flushed, then moved
    // over it in one step: a reader, or the next start after a crash, finds
    // the old content or the new.  MOVEFILE_WRITE_THROUGH returns only once
    // the move itself is on the disk.
    bool Replace(const std::string& path, std::string_view bytes) override {
        error_.clear();
        const std::string temporary = path + ".tmp";
        const std::wstring wideTemporary = win32::Wide(temporary);
        UniqueHandle file(::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return fail("could not be created", temporary, ::GetLastError());
        const char* failed = !writeAll(file.get(), bytes)       ? "could not be written"
                             : !::FlushFileBuffers(file.get())   ? "could not be flushed to disk"
                             : !::CloseHandle(file.release())    ? "could not be closed"
                                                                 : nullptr;
        if (failed) {
            const DWORD e = ::GetLastError();
            file.reset();
            ::DeleteFileW(wideTemporary.c_str());
            return fail(failed, temporary, e);
        }
        if (!::MoveFileExW(wideTemporary.c_str(), win32::Wide(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD e = ::GetLastError();
            ::DeleteFileW(wideTemporary.c_str());
            return fail(LockedByAnother(e) ? "is locked by another program" : "could not be replaced",
                        path, e);
        }
        return true;
    }

    std::optional<std::string> ReadSmall(const std::string& path, std::size_t limit) override {
        UniqueHandle file(::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
            static_cast<unsigned long long>(size.QuadPart) > limit)
            return std::nullopt;
        // One more than the limit: a file that grew meanwhile is still refused.
        std::string bytes(std::min<std::size_t>(limit, MAXDWORD - 1) + 1, '\0');
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
            got > limit)
            return std::nullopt;
        bytes.resize(got);
        return bytes;
    }

private:
    // Every byte of `bytes` at the file's current position; false with the
    // system's error left for GetLastError.
    static bool writeAll(HANDLE file, std::string_view bytes) {
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1 << 20));
            DWORD written = 0;
            if (!::WriteFile(file, data, chunk, &written, nullptr)) return false;
            if (written == 0) {
                ::SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            data += written;
            left -= written;
        }
        return true;
    }

    bool appendLocked(HANDLE file, const std::string& path, std::string_view bytes) {
        LARGE_INTEGER oldEnd{};
        if (!::GetFileSizeEx(file, &oldEnd))
            return fail("could not be inspected", path, ::GetLastError());
        if (!::SetFilePointerEx(file, oldEnd, nullptr, FILE_BEGIN))
            return fail("could not be inspected", path, ::GetLastError());
        if (!writeAll(file, bytes)) {
            const DWORD e = ::GetLastError();
            undo(file, oldEnd);
            return fail("could not be written", path, e ? e : ERROR_WRITE_FAULT);
        }
        if (!::FlushFileBuffers(file)) {
            const DWORD e = ::GetLastError();
            undo(file, oldEnd);
            return fail("could not be flushed to disk", path, e);
        }
        return true;
    }

    static void undo(HANDLE file, LARGE_INTEGER oldEnd) {
        if (::SetFilePointerEx(file, oldEnd, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
    }

    bool fail(const char* what, const std::string& path, DWORD error) {
        error_ = "File " + path + " " + what + ": " + win32::ErrorText(error);
        return false;
    }

    std::string error_;
};

} // namespace

std::unique_ptr<FileAppender> MakeFileAppender() { return std::make_unique<Win32FileAppender>(); }

} // namespace vantor
