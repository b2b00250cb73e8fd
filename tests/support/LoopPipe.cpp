#include "support/LoopContract.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace vantor::test {

#ifdef _WIN32

LoopPipe::LoopPipe() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    SOCKET writer = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SOCKET reader = ::accept(listener, nullptr, nullptr);
    ::closesocket(listener);
    u_long nonBlocking = 1;
    ::ioctlsocket(reader, FIONBIO, &nonBlocking);
    r = static_cast<int>(reader);
    w = static_cast<int>(writer);
}

LoopPipe::~LoopPipe() {
    if (r >= 0) ::closesocket(static_cast<SOCKET>(r));
    if (w >= 0) ::closesocket(static_cast<SOCKET>(w));
}

void LoopPipe::Put(char c) { ASSERT_EQ(::send(static_cast<SOCKET>(w), &c, 1, 0), 1); }

void LoopPipe::CloseWriter() {
    ::closesocket(static_cast<SOCKET>(w));
    w = -1;
}

// A LoopPipe stands for a pipe, whose reading end is never writable; the
// socket behind it is, so that is left out.
unsigned ReadinessNow(int fd) {
    WSAPOLLFD p{};
    p.fd = static_cast<SOCKET>(fd);
    p.events = POLLRDNORM;
    if (::WSAPoll(&p, 1, 0) <= 0) return 0;
    unsigned events = 0;
    if (p.revents & POLLRDNORM) events |= EventLoop::Readable;
    if (p.revents & (POLLERR | POLLNVAL)) events |= EventLoop::Error;
    if (p.revents & POLLHUP) events |= EventLoop::HangUp;
    return events;
}

#else

LoopPipe::LoopPipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    r = fds[0];
    w = fds[1];
}

LoopPipe::~LoopPipe() {
    if (r >= 0) ::close(r);
    if (w >= 0) ::close(w);
}

void LoopPipe::Put(char c) { ASSERT_EQ(::write(w, &c, 1), 1); }

void LoopPipe::CloseWriter() {
    ::close(w);
    w = -1;
}

unsigned ReadinessNow(int fd) {
    pollfd p{fd, POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0) return 0;
    unsigned events = 0;
    if (p.revents & POLLIN) events |= EventLoop::Readable;
    if (p.revents & POLLOUT) events |= EventLoop::Writable;
    if (p.revents & (POLLERR | POLLNVAL)) events |= EventLoop::Error;
    if (p.revents & POLLHUP) events |= EventLoop::HangUp;
    return events;
}

#endif

} // namespace vantor::test
