// Accounting-file appends on POSIX: O_APPEND, an advisory whole-file write
// lock that other cooperating programs see, every byte written, fsync, close.
// A write that fails half way is cut back to the old end of the file, so a
// reader never finds half a record followed by the retried whole one.  The
// accounting state file is replaced through a flushed temporary and a rename.
#include "platform/PosixFileAppender.h"

#include <algorithm>
#include <fstream>
#include "platform/FileDescriptor.h"
#include "platform/Paths.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantor {
namespace {

std::string Reason(int error) {
    std::string text = SystemErrorMessage(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

class PosixFileAppender final : public FileAppender {
public:
    bool Append(const std::string& path, std::string_view bytes) override {
        error_.clear();
        FileDescriptor fd;
        do {
            fd.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        } while (!fd && errno == EINTR);
        if (!fd) return fail("could not be opened", path, errno);

        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 0; // the whole file, however long it grows
        if (::fcntl(fd.get(), F_SETLK, &lock) != 0) {
            const int e = errno;
            if (e == EACCES || e == EAGAIN) return fail("is locked by another program", path, e);
            return fail("could not be locked", path, e);
        }

        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return fail("could not be inspected", path, errno);
        const off_t oldEnd = st.st_size;

        if (const int e = writeAll(fd.get(), bytes); e != 0) {
            undo(fd.get(), oldEnd);
            return fail("could not be written", path, e);
        }
        if (::fsync(fd.get()) != 0 && errno != EINVAL) { // EINVAL: a device that cannot sync
            const int e = errno;
            undo(fd.get(), oldEnd);
            return fail("could not be flushed to disk", path, e);
        }
        if (const int e = fd.close(); e != 0 && e != EINTR)
            return fail("could not be closed", path, e);
        return true;
    }

    std::string errorText() const override { return error_; }

    std::optional<std::string> LastLine(const std::string& path) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size <= 0) return std::nullopt;
        const std::streamoff tail = std::min<std::streamoff>(size, LastLineTail);
        std::string bytes(static_cast<std::size_t>(tail), '\0');
        in.seekg(size - tail);
        in.read(bytes.data(), tail);
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return LastLineOf(std::move(bytes));
    }

    // A temporary file beside the target, flushed, renamed over it, and the
    // folder flushed so that the rename itself survives a power cut.
    bool Replace(const std::string& path, std::string_view bytes) override {
        error_.clear();
        const std::string temporary = path + ".tmp";
        FileDescriptor fd;
        do {
            fd.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        } while (!fd && errno == EINTR);
        if (!fd) return fail("could not be created", temporary, errno);
        if (const int e = writeAll(fd.get(), bytes); e != 0)
            return discard(temporary, "could not be written", e);
        if (::fsync(fd.get()) != 0 && errno != EINVAL)
            return discard(temporary, "could not be flushed to disk", errno);
        if (const int e = fd.close(); e != 0 && e != EINTR)
            return discard(temporary, "could not be closed", e);
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            const int e = errno;
            ::unlink(temporary.c_str());
            return fail("could not be replaced", path, e);
        }
        const std::size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : path.substr(0, slash);
        FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir && ::fsync(dir.get()) != 0 && errno != EINVAL)
            return fail("could not be flushed to disk", folder, errno);
        return true;
    }

    std::optional<std::string> ReadSmall(const std::string& path, std::size_t limit) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        std::string bytes(limit + 1, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (in.bad() || static_cast<std::size_t>(in.gcount()) > limit) return std::nullopt;
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    }

private:
    // Every byte at the file's position; 0, or the error that stopped it.
    static int writeAll(int fd, std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return errno;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return 0;
    }

    static void undo(int fd, off_t oldEnd) { [[maybe_unused]] int r = ::ftruncate(fd, oldEnd); }

    bool discard(const std::string& temporary, const char* what, int error) {
        fail(what, temporary, error);
        ::unlink(temporary.c_str());
        return false;
    }

    bool fail(const char* what, const std::string& path, int error) {
        error_ = std::string("File ") + path + " " + what + ": " + Reason(error);
        return false;
    }

    std::string error_;
};

} // namespace

std::unique_ptr<FileAppender> MakeFileAppender() { return std::make_unique<PosixFileAppender>(); }

} // namespace vantor
