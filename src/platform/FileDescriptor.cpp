#include "platform/FileDescriptor.h"

#include <cerrno>

#include <unistd.h>

namespace vantor {

void FileDescriptor::reset(int fd) noexcept {
    const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
    // Not retried on EINTR: Linux has released the number by then, and a
    // second close could hit a descriptor another thread just opened.
    if (old >= 0) ::close(old);
}

int FileDescriptor::close() noexcept {
    const int old = release();
    if (old < 0) return 0;
    return ::close(old) == 0 ? 0 : errno;
}

} // namespace vantor
