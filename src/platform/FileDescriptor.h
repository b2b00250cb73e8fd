#pragma once
// The one owner of a file descriptor.  Every descriptor the platform layer
// opens (serial lines and their wake-up counters, sockets, pipes, files) is
// held by one of these, so it is closed exactly once: when its owner goes,
// is reset or is moved over, on every path, exceptions included.  Moving
// hands the descriptor on and leaves the source empty; release() gives it
// up without closing, for a caller that passes it to another owner.
#include <utility>

namespace vantor {

class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
    ~FileDescriptor() { reset(); }

    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Gives the descriptor up without closing it; the owner is empty after.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and takes `fd` instead.
    void reset(int fd = -1) noexcept;
    // Closes now and says how that went: 0, or the errno of close().  On
    // Linux the descriptor is gone even when close() fails, so the owner is
    // empty either way and nothing is ever closed twice.
    int close() noexcept;

private:
    int fd_ = -1;
};

} // namespace vantor
