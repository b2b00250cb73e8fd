// The descriptor owner closes what it holds exactly once, whichever way the
// ownership ends, and never closes a number it has given away.
#include "platform/FileDescriptor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace vantor {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// Two fresh descriptors (a pipe's ends); the test owns and checks them.
std::pair<int, int> Pipe() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    return {fds[0], fds[1]};
}

TEST(FileDescriptor, EveryEndOfOwnershipClosesOnce) {
    auto [a, b] = Pipe();
    {
        FileDescriptor owner(a);
        FileDescriptor moved(std::move(owner)); // the source is empty now
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(moved.get(), a);
        FileDescriptor assigned(b);
        assigned = std::move(moved); // closes b, takes a
        EXPECT_FALSE(IsOpen(b));
        EXPECT_TRUE(IsOpen(a));
    }
    EXPECT_FALSE(IsOpen(a));

    auto [c, d] = Pipe();
    FileDescriptor owner(c);
    owner.reset(d); // the old one goes, the new one is held
    EXPECT_FALSE(IsOpen(c));
    EXPECT_EQ(owner.close(), 0);
    EXPECT_FALSE(IsOpen(d));
    EXPECT_FALSE(owner.valid());
    EXPECT_EQ(owner.close(), 0); // nothing left to close
}

TEST(FileDescriptor, ReleasedNumberStaysOpenAndNegativeMeansEmpty) {
    auto [a, b] = Pipe();
    int released;
    {
        FileDescriptor owner(a);
        released = owner.release();
        EXPECT_FALSE(owner);
    }
    EXPECT_EQ(released, a);
    EXPECT_TRUE(IsOpen(a));
    ::close(a);
    ::close(b);

    FileDescriptor failedOpen(-7); // what a failed open() hands over
    EXPECT_FALSE(failedOpen.valid());
    EXPECT_EQ(failedOpen.get(), -1);
}

} // namespace
} // namespace vantor
