#include "platform/win32/Win32ServerSocket.h"

#include "platform/win32/WinApi.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace vantor {
namespace {

std::string Describe(int error, const char* api) {
    return "Socket error: " + win32::ErrorText(static_cast<DWORD>(error)) + " (" +
           std::to_string(error) + "), on API '" + api + "'";
}

// How long accepting rests when the system is out of socket resources; the
// waiting connections stay queued meanwhile.
constexpr std::uint32_t kAcceptPauseMs = 250;
// Connections taken per readiness report, so a flood cannot starve the rest.
constexpr int kAcceptsPerPass = 64;

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

class Win32ServerSocket final : public TServerSocket {
public:
    Win32ServerSocket(TComponent* owner, EventLoop& loop)
        : TServerSocket(owner), loop_(loop), listener_(std::make_unique<Listener>(*this)) {}
    // Closes everything without notifications: the handlers' owner may
    // already be half gone.
    ~Win32ServerSocket() override { closeSilently(); }

    void Open() override;
    void Close() override;
    int LocalPort() const override { return localPort_; }
    int ActiveConnections() const override { return static_cast<int>(clients_.size()); }
    TCustomWinSocket* Connections(int index) const override;

private:
    class Client;
    class Listener;

    void onListenerReady();
    void pauseAccepting();
    void closeClient(Client& client, bool notify);
    void failClient(Client& client, TErrorEvent event, int errorCode);
    void scheduleReap();
    int allocateHandle();
    void closeSilently();

    EventLoop& loop_;
    UniqueSocket listen_;
    EventLoop::Handle listenWatch_ = 0;
    EventLoop::Handle resumeTimer_ = 0;
    int localPort_ = 0;
    int nextHandle_ = 1;
    bool reapPosted_ = false;
    std::unique_ptr<Listener> listener_;
    std::vector<std::unique_ptr<Client>> clients_; // live, in accept order
    std::vector<std::unique_ptr<Client>> closed_;  // freed from the loop later
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

class Win32ServerSocket::Listener final : public TCustomWinSocket {
public:
    explicit Listener(Win32ServerSocket& server) : server_(server) {}
    int SocketHandle() const override { return static_cast<int>(server_.listen_.get()); }
    std::string RemoteAddress() const override { return {}; }
    int RemotePort() const override { return 0; }
    bool Connected() const override { return server_.Active(); }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    int SendBuf(const void*, int) override { return -1; }
    void Close() override { server_.Close(); }

private:
    Win32ServerSocket& server_;
};

class Win32ServerSocket::Client final : public TCustomWinSocket {
public:
    Client(Win32ServerSocket& server, UniqueSocket socket, int handle, std::string address,
           int port)
        : server_(server), socket_(std::move(socket)), handle_(handle),
          address_(std::move(address)), port_(port) {}
    ~Client() override { release(); }

    int SocketHandle() const override { return handle_; }
    std::string RemoteAddress() const override { return address_; }
    int RemotePort() const override { return port_; }
    bool Connected() const override { return static_cast<bool>(socket_) && !closing_; }
    int Descriptor() const { return static_cast<int>(socket_.get()); }
    std::size_t PendingSendBytes() const override { return out_.size() - outStart_; }

    int ReceiveLength() override {
        if (!socket_) return 0;
        u_long pending = 0;
        if (::ioctlsocket(socket_.get(), FIONREAD, &pending) != 0) return 0;
        return static_cast<int>(std::min<u_long>(pending, INT_MAX));
    }

    int ReceiveBuf(void* buffer, int count) override {
        if (!Connected() || !buffer || count <= 0) return 0;
        ++reads_;
        const int n = ::recv(socket_.get(), static_cast<char*>(buffer), count, 0);
        if (n > 0) return n;
        if (n == 0) {
            server_.closeClient(*this, true); // the peer has gone
            return 0;
        }
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return 0;
        server_.failClient(*this, eeReceive, error);
        return 0;
    }

    int SendBuf(const void* buffer, int count) override {
        if (!Connected()) return -1;
        if (!buffer || count <= 0) return 0;
        const char* bytes = static_cast<const char*>(buffer);
        std::size_t sent = 0;
        const auto total = static_cast<std::size_t>(count);
        if (PendingSendBytes() == 0) {
            while (sent < total) {
                const int n = ::send(socket_.get(), bytes + sent, static_cast<int>(total - sent), 0);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    continue;
                }
                const int error = ::WSAGetLastError();
                if (error != WSAEWOULDBLOCK) {
                    server_.failClient(*this, eeSend, error);
                    return -1;
                }
                break; // the system's buffer is full
            }
            if (sent == total) return count;
            out_.clear();
            outStart_ = 0;
        }
        out_.append(bytes + sent, total - sent);
        if (PendingSendBytes() > server_.SendBacklogLimit()) {
            if (server_.OnBacklogExceeded)
                server_.OnBacklogExceeded(&server_, this, PendingSendBytes());
            if (Connected()) server_.failClient(*this, eeSend, WSAENOBUFS);
            return -1;
        }
        server_.loop_.setWatchEvents(watch_, EventLoop::Readable | EventLoop::Writable);
        return count;
    }

    void Close() override { server_.closeClient(*this, true); }

    // Readiness reported by the loop.
    void onEvents(unsigned events) {
        if (!Connected()) return;
        if (events & EventLoop::Error) {
            int error = 0;
            int len = sizeof error;
            if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                             &len) != 0 ||
                error == 0)
                error = WSAECONNRESET;
            // Data that arrived before the failure is still handed out.
            if (ReceiveLength() > 0) notifyRead();
            if (Connected()) server_.failClient(*this, eeGeneral, error);
            return;
        }
        if (events & EventLoop::Writable) {
            flush();
            if (!Connected()) return;
        }
        if (events & (EventLoop::Readable | EventLoop::HangUp)) onReadable(events);
    }

    // Sends as much held-back data as the system takes now.
    void flush() {
        while (PendingSendBytes() > 0) {
            const int n = ::send(socket_.get(), out_.data() + outStart_,
                                 static_cast<int>(std::min<std::size_t>(PendingSendBytes(), INT_MAX)), 0);
            if (n > 0) {
                outStart_ += static_cast<std::size_t>(n);
                continue;
            }
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                server_.failClient(*this, eeSend, error);
                return;
            }
            break;
        }
        if (PendingSendBytes() == 0) {
            out_.clear();
            outStart_ = 0;
            server_.loop_.setWatchEvents(watch_, EventLoop::Readable);
            if (server_.OnClientWrite) server_.OnClientWrite(&server_, this);
        } else if (outStart_ > out_.size() / 2) {
            out_.erase(0, outStart_);
            outStart_ = 0;
        }
    }

    // The last chance for held-back bytes before the socket goes.
    void flushQuietly() {
        while (socket_ && PendingSendBytes() > 0) {
            const int n = ::send(socket_.get(), out_.data() + outStart_,
                                 static_cast<int>(std::min<std::size_t>(PendingSendBytes(), INT_MAX)), 0);
            if (n <= 0) break;
            outStart_ += static_cast<std::size_t>(n);
        }
    }

    void release() {
        if (watch_ != 0) {
            server_.loop_.unwatchFd(watch_);
            watch_ = 0;
        }
        socket_.reset();
        out_.clear();
        outStart_ = 0;
    }

    EventLoop::Handle watch_ = 0;
    bool closing_ = false;

private:
    void onReadable(unsigned events) {
        if (ReceiveLength() > 0) {
            notifyRead();
            return;
        }
        // Nothing waiting: either the peer closed, or the report was stale.
        char probe;
        const int n = ::recv(socket_.get(), &probe, 1, MSG_PEEK);
        const int error = n < 0 ? ::WSAGetLastError() : 0;
        if (n == 0) {
            server_.closeClient(*this, true);
        } else if (n < 0 && error != WSAEWOULDBLOCK) {
            server_.failClient(*this, eeReceive, error);
        } else if (n < 0 && (events & EventLoop::HangUp)) {
            server_.closeClient(*this, true);
        } else if (n > 0) {
            notifyRead();
        }
    }

    void notifyRead() {
        // A handler that runs the loop itself must not be called again for
        // the same bytes from inside its own notification.
        if (inRead_) return;
        inRead_ = true;
        const int before = reads_;
        try {
            if (server_.OnClientRead) server_.OnClientRead(&server_, this);
        } catch (...) {
            inRead_ = false;
            throw;
        }
        inRead_ = false;
        if (Connected() && reads_ == before) discardWaiting();
    }

    void discardWaiting() {
        char sink[4096];
        int left = ReceiveLength();
        while (left > 0) {
            const int n = ::recv(socket_.get(), sink, std::min<int>(sizeof sink, left), 0);
            if (n <= 0) break;
            left -= n;
        }
    }

    Win32ServerSocket& server_;
    UniqueSocket socket_;
    int handle_;
    std::string address_;
    int port_;
    int reads_ = 0;
    bool inRead_ = false;
    std::string out_;
    std::size_t outStart_ = 0;
};

TCustomWinSocket* Win32ServerSocket::Connections(int index) const {
    if (index < 0 || index >= static_cast<int>(clients_.size())) return nullptr;
    return clients_[static_cast<std::size_t>(index)].get();
}

void Win32ServerSocket::Open() {
    if (Active()) return;
    if (Port() < 0 || Port() > 65535)
        throw ESocketError("Socket error: invalid port " + std::to_string(Port()), WSAEINVAL);
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
    localPort_ = ntohs(address.sin_port);
    listenWatch_ = loop_.watchFd(static_cast<int>(listen_.get()), EventLoop::Readable,
                                 [this](unsigned) { onListenerReady(); });
    SetActiveFlag(true);
    if (OnListen) OnListen(this, listener_.get());
}

void Win32ServerSocket::Close() {
    if (!Active()) return;
    // Closed clients stay alive until the reap, so the pointers of this
    // snapshot hold even when a disconnect handler closes others.
    std::vector<Client*> open;
    for (auto& c : clients_)
        if (!c->closing_) open.push_back(c.get());
    std::exception_ptr first;
    for (Client* c : open) {
        try {
            closeClient(*c, true);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    SetActiveFlag(false);
    if (resumeTimer_ != 0) loop_.stopTimer(resumeTimer_);
    resumeTimer_ = 0;
    if (listenWatch_ != 0) loop_.unwatchFd(listenWatch_);
    listenWatch_ = 0;
    listen_.reset();
    localPort_ = 0;
    if (first) std::rethrow_exception(first);
}

void Win32ServerSocket::closeSilently() {
    for (auto& c : clients_) c->release();
    for (auto& c : closed_) c->release();
    clients_.clear();
    closed_.clear();
    if (resumeTimer_ != 0) loop_.stopTimer(resumeTimer_);
    if (listenWatch_ != 0) loop_.unwatchFd(listenWatch_);
    listen_.reset();
    resumeTimer_ = listenWatch_ = 0;
    localPort_ = 0;
    SetActiveFlag(false);
}

int Win32ServerSocket::allocateHandle() {
    for (;;) {
        const int h = nextHandle_;
        nextHandle_ = nextHandle_ == INT_MAX ? 1 : nextHandle_ + 1;
        const bool inUse = std::any_of(clients_.begin(), clients_.end(),
                                       [h](const auto& c) { return c->SocketHandle() == h; });
        if (!inUse) return h;
    }
}

void Win32ServerSocket::pauseAccepting() {
    if (resumeTimer_ != 0) return;
    loop_.setWatchEvents(listenWatch_, 0);
    resumeTimer_ = loop_.startTimer(kAcceptPauseMs, [this] {
        loop_.stopTimer(resumeTimer_);
        resumeTimer_ = 0;
        if (Active()) loop_.setWatchEvents(listenWatch_, EventLoop::Readable);
    });
}

void Win32ServerSocket::onListenerReady() {
    for (int i = 0; i < kAcceptsPerPass && Active(); ++i) {
        sockaddr_in peer{};
        int len = sizeof peer;
        UniqueSocket s(::accept(listen_.get(), reinterpret_cast<sockaddr*>(&peer), &len));
        if (!s) {
            const int e = ::WSAGetLastError();
            if (e == WSAEINTR || e == WSAECONNRESET) continue;
            if (e == WSAEMFILE || e == WSAENOBUFS) pauseAccepting();
            return; // WSAEWOULDBLOCK: all taken
        }
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
        if (!FitsTheLoop(s.get())) continue; // closed again; never seen in practice
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) text[0] = '\0';
        if (MaxConnections() > 0 && ActiveConnections() >= MaxConnections()) {
            // Closed before anything else is done with it: the client sees
            // the connection end, and the count of clients stays where it was.
            s.reset();
            if (OnClientRefused) OnClientRefused(this, text, TRefusal::Limit);
            continue;
        }
        // Left to itself the system grows a socket's send buffer for a client
        // that never reads, and the backlog limit would act only after that:
        // a fixed buffer of the limit's size keeps what one client can cost small.
        const int sendBuffer = static_cast<int>(std::min<std::size_t>(SendBacklogLimit(), INT_MAX));
        ::setsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                     sizeof sendBuffer);
        // The object owns the socket from here on, whatever the handlers do.
        auto client = std::make_unique<Client>(*this, std::move(s), allocateHandle(), text,
                                               ntohs(peer.sin_port));
        if (OnAccept) OnAccept(this, listener_.get());
        if (OnGetSocket) OnGetSocket(this, client->SocketHandle());
        if (!Active()) return; // a handler closed the listener
        Client* raw = client.get();
        raw->watch_ = loop_.watchFd(raw->Descriptor(), EventLoop::Readable,
                                    [raw](unsigned ev) { raw->onEvents(ev); });
        clients_.push_back(std::move(client));
        if (OnClientConnect) OnClientConnect(this, raw);
    }
}

void Win32ServerSocket::closeClient(Client& client, bool notify) {
    if (client.closing_) return;
    client.closing_ = true;
    client.flushQuietly();
    auto finish = [&] {
        client.release();
        auto it = std::find_if(clients_.begin(), clients_.end(),
                               [&](const auto& c) { return c.get() == &client; });
        if (it != clients_.end()) {
            closed_.push_back(std::move(*it));
            clients_.erase(it);
            scheduleReap();
        }
    };
    // The handler still finds the client in the list, with its address; a
    // handler that throws still leaves the connection closed and listed off.
    try {
        if (notify && OnClientDisconnect) OnClientDisconnect(this, &client);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void Win32ServerSocket::failClient(Client& client, TErrorEvent event, int errorCode) {
    if (!client.Connected()) return;
    int code = errorCode;
    if (OnClientError) OnClientError(this, &client, event, code);
    const std::string message = Describe(errorCode, event == eeReceive ? "recv"
                                                    : event == eeSend  ? "send"
                                                                       : "WSAPoll");
    closeClient(client, true);
    if (code != 0) throw ESocketError(message, code);
}

void Win32ServerSocket::scheduleReap() {
    if (reapPosted_) return;
    reapPosted_ = true;
    std::weak_ptr<int> alive = alive_;
    loop_.post([this, alive] {
        if (alive.expired()) return;
        reapPosted_ = false;
        closed_.clear();
    });
}

} // namespace

std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop) {
    return std::make_unique<Win32ServerSocket>(owner, loop);
}

} // namespace vantor
