#include "TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace vantor::test {

TcpClient::TcpClient(int port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    // A send never blocks a test for good, whatever the gateway does.
    const timeval sendLimit{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    connected_ = false;
}

bool TcpClient::Send(const Bytes& bytes) {
    if (fd_ < 0) return false;
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

TcpClient::Bytes TcpClient::ReceiveSome(Millis timeout, bool& closed) {
    closed = false;
    if (fd_ < 0) {
        closed = true;
        return {};
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return {};
    std::uint8_t buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        closed = true;
        return {};
    }
    return Bytes(buf, buf + n);
}

TcpClient::Bytes TcpClient::Receive(Millis firstByte, Millis quiet) {
    Bytes out;
    auto wait = firstByte;
    for (bool closed = false; !closed;) {
        Bytes some = ReceiveSome(wait, closed);
        if (some.empty()) break;
        out.insert(out.end(), some.begin(), some.end());
        wait = quiet;
    }
    return out;
}

TcpClient::Bytes TcpClient::ReceiveBytes(std::size_t count, Millis timeout) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (bool closed = false; out.size() < count && !closed;) {
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        Bytes some = ReceiveSome(left, closed);
        out.insert(out.end(), some.begin(), some.end());
    }
    return out;
}

} // namespace vantor::test
