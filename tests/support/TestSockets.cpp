#include "TestSockets.h"

#include <filesystem>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vantor::test {

#ifdef _WIN32

const int kAddressInUse = WSAEADDRINUSE;
const int kNoBufferSpace = WSAENOBUFS;

int ConnectLoopback(int port, int receiveBuffer) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    if (receiveBuffer > 0)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                     sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::closesocket(s);
        return -1;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    return static_cast<int>(s);
}

void CloseSocket(int socket) { ::closesocket(static_cast<SOCKET>(socket)); }

void ResetOnClose(int socket) {
    linger hard{1, 0};
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&hard), sizeof hard);
}

long SendSome(int socket, const void* data, std::size_t size) {
    return ::send(static_cast<SOCKET>(socket), static_cast<const char*>(data),
                  static_cast<int>(size), 0);
}

long ReceiveNow(int socket, void* buffer, std::size_t size) {
    const int n =
        ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n >= 0) return n;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? -1 : -2;
}

int OpenHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return static_cast<int>(count);
}

#else

const int kAddressInUse = EADDRINUSE;
const int kNoBufferSpace = ENOBUFS;

int ConnectLoopback(int port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

void CloseSocket(int socket) { ::close(socket); }

void ResetOnClose(int socket) {
    linger hard{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

long SendSome(int socket, const void* data, std::size_t size) {
    return ::send(socket, data, size, MSG_NOSIGNAL);
}

long ReceiveNow(int socket, void* buffer, std::size_t size) {
    const ssize_t n = ::recv(socket, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return n;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : -2;
}

int OpenHandleCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

#endif

} // namespace vantor::test
