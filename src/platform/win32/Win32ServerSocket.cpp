#include "platform/win32/Win32ServerSocket.h"

#include "platform/portable/ServerSocketCore.h"
#include "platform/win32/WinApi.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

namespace vantor {
namespace {

std::string Describe(int error, const char* api) {
    return "Socket error: " + win32::ErrorText(static_cast<DWORD>(error)) + " (" +
           std::to_string(error) + "), on API '" + api + "'";
}

// The one owner of a socket.
class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SOCKET s) : s_(s) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(UniqueSocket&& o) noexcept : s_(std::exchange(o.s_, INVALID_SOCKET)) {}
    UniqueSocket& operator=(UniqueSocket&& o) noexcept {
        if (this != &o) {
            reset();
            s_ = std::exchange(o.s_, INVALID_SOCKET);
        }
        return *this;
    }
    SOCKET get() const { return s_; }
    explicit operator bool() const { return s_ != INVALID_SOCKET; }
    void reset() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
        s_ = INVALID_SOCKET;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

// The loop names sockets by int; Windows' socket values are kernel handles,
// which fit in 32 bits.
bool FitsTheLoop(SOCKET s) { return s <= static_cast<SOCKET>(INT_MAX); }

int Clamped(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

class Win32ServerSocket final : public ServerSocketCore {
public:
    Win32ServerSocket(TComponent* owner, EventLoop& loop)
        : ServerSocketCore(owner, loop, {WSAEINVAL, WSAENOBUFS, "WSAPoll"}) {}
    ~Win32ServerSocket() override { closeSilently(); }

private:
    class Client;

    int openListener(int& port) override;
    void closeListener() override { listen_.reset(); }
    std::unique_ptr<Connection> acceptNext(bool& more) override;
    std::string describe(int error, const char* api) const override { return Describe(error, api); }

    UniqueSocket listen_;
};

class Win32ServerSocket::Client final : public Connection {
public:
    Client(Win32ServerSocket& server, UniqueSocket socket, std::string address, int port)
        : Connection(server, std::move(address), port), socket_(std::move(socket)) {}
    ~Client() override { release(); }

    int Descriptor() const override { return static_cast<int>(socket_.get()); }

private:
    std::size_t sendSome(const char* data, std::size_t size, int& error) override {
        const int n = ::send(socket_.get(), data, Clamped(size), 0);
        error = n > 0 ? 0 : ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) error = 0;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    long receiveSome(char* buffer, std::size_t size, int& error) override {
        const int n = ::recv(socket_.get(), buffer, Clamped(size), 0);
        error = n >= 0 ? 0 : ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) error = 0;
        return n;
    }

    int bytesWaiting() override {
        u_long pending = 0;
        if (::ioctlsocket(socket_.get(), FIONREAD, &pending) != 0) return 0;
        return Clamped(pending);
    }

    int pendingError() override {
        int error = 0;
        int len = sizeof error;
        if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                         &len) != 0 ||
            error == 0)
            error = WSAECONNRESET;
        return error;
    }

    bool socketOpen() const override { return static_cast<bool>(socket_); }
    void closeSocket() override { socket_.reset(); }

    // What the system holds is handed to the handler as it lies; a report
    // with nothing waiting is told apart by a peek: the peer closed, or it
    // was stale.
    void onReadable(unsigned events) override {
        if (ReceiveLength() > 0) {
            notifyRead();
            return;
        }
        char probe;
        const int n = ::recv(socket_.get(), &probe, 1, MSG_PEEK);
        const int error = n < 0 ? ::WSAGetLastError() : 0;
        if (n == 0) {
            peerClosed();
        } else if (n < 0 && error != WSAEWOULDBLOCK) {
            failed(eeReceive, error);
        } else if (n < 0 && (events & EventLoop::HangUp)) {
            peerClosed();
        } else if (n > 0) {
            notifyRead();
        }
    }

    UniqueSocket socket_;
};

int Win32ServerSocket::openListener(int& port) {
    std::string why;
    if (!win32::StartWinsock(&why)) throw ESocketError("Socket error: " + why, WSASYSNOTREADY);
    auto fail = [](const char* api) {
        const int e = ::WSAGetLastError();
        throw ESocketError(Describe(e, api), e);
    };
    UniqueSocket s(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!s && ::WSAGetLastError() == WSAEINVAL) // a system without the no-inherit flag
        s = UniqueSocket(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                      WSA_FLAG_OVERLAPPED));
    if (!s) fail("socket");
    if (!FitsTheLoop(s.get())) throw ESocketError("Socket error: socket value out of range", WSAEMFILE);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!BindAddress().empty() &&
        ::inet_pton(AF_INET, BindAddress().c_str(), &address.sin_addr) != 1) {
        throw ESocketError("Socket error: " + BindAddress() + " is no IPv4 address", WSAEINVAL);
    }
    address.sin_port = htons(static_cast<u_short>(Port()));
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
    if (::listen(s.get(), SOMAXCONN) != 0) fail("listen");
    int len = sizeof address;
    if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &len) != 0)
        fail("getsockname");
    listen_ = std::move(s);
    port = ntohs(address.sin_port);
    return static_cast<int>(listen_.get());
}

std::unique_ptr<ServerSocketCore::Connection> Win32ServerSocket::acceptNext(bool& more) {
    sockaddr_in peer{};
    int len = sizeof peer;
    UniqueSocket s(::accept(listen_.get(), reinterpret_cast<sockaddr*>(&peer), &len));
    if (!s) {
        const int e = ::WSAGetLastError();
        more = e == WSAEINTR || e == WSAECONNRESET;
        if (e == WSAEMFILE || e == WSAENOBUFS) pauseAccepting();
        return nullptr; // WSAEWOULDBLOCK: all taken
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
    more = true;
    if (!FitsTheLoop(s.get())) return nullptr; // closed again; never seen in practice
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) text[0] = '\0';
    // Left to itself the system grows a socket's send buffer for a client
    // that never reads, and the backlog limit would act only after that:
    // a fixed buffer of the limit's size keeps what one client can cost small.
    const int sendBuffer = Clamped(SendBacklogLimit());
    ::setsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                 sizeof sendBuffer);
    return std::make_unique<Client>(*this, std::move(s), text, ntohs(peer.sin_port));
}

} // namespace

std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop) {
    return std::make_unique<Win32ServerSocket>(owner, loop);
}

} // namespace vantor
