#include "platform/PosixServerSocket.h"
#include "platform/FileDescriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor {
namespace {

std::string Describe(int error, const char* api) {
    return std::string("Socket error: ") + std::strerror(error) + " (" + std::to_string(error) +
           "), on API '" + api + "'";
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// How long accepting rests when the process is out of descriptors; the
// waiting connections stay queued meanwhile.
constexpr std::uint32_t kAcceptPauseMs = 250;
// Connections taken per readiness report, so a flood cannot starve the rest.
constexpr int kAcceptsPerPass = 64;

// How often the descriptors are counted while the process is far from its
// limit, and how long a count that refused a connection stands for the next.
constexpr std::int64_t kRecountMs = 1000;
constexpr std::int64_t kRefusalStandsMs = 100;

// The process's descriptor limit (RLIMIT_NOFILE), or none.
std::optional<long long> DescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<long long>(limit.rlim_cur);
}

// Descriptors the process has open, newest being the one just taken.  The
// count comes from /proc/self/fd: descriptor numbers alone do not tell, since
// clients that left make holes below others that stay.  Where /proc cannot be
// read, the lowest free number (which the system hands out, so every number
// below newest is taken) stands in; when the directory cannot be opened for
// want of descriptors, all of `limit` are taken.
long long OpenDescriptors(int newest, long long limit) {
    long long open = static_cast<long long>(newest) + 1;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        long long entries = 0;
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++entries;
        ::closedir(dir);
        open = std::max(open, entries - 1); // less the directory's own descriptor
    } else if (errno == EMFILE || errno == ENFILE) {
        open = limit;
    }
    return open;
}

} // namespace

class PosixServerSocket::Listener final : public TCustomWinSocket {
public:
    explicit Listener(PosixServerSocket& server) : server_(server) {}
    int SocketHandle() const override { return server_.listenFd_.get(); }
    std::string RemoteAddress() const override { return {}; }
    int RemotePort() const override { return 0; }
    bool Connected() const override { return server_.Active(); }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    int SendBuf(const void*, int) override { return -1; }
    void Close() override { server_.Close(); }

private:
    PosixServerSocket& server_;
};

class PosixServerSocket::Client final : public TCustomWinSocket {
public:
    Client(PosixServerSocket& server, FileDescriptor fd, int handle, std::string address, int port)
        : server_(server), fd_(std::move(fd)), handle_(handle), address_(std::move(address)),
          port_(port) {}
    ~Client() override { release(); }

    int SocketHandle() const override { return handle_; }
    std::string RemoteAddress() const override { return address_; }
    int RemotePort() const override { return port_; }
    bool Connected() const override { return fd_.valid() && !closing_; }
    int Descriptor() const { return fd_.get(); }
    std::size_t PendingSendBytes() const override { return out_.size() - outStart_; }

    int ReceiveLength() override {
        if (!fd_) return 0;
        if (!inbox_.empty() && !moreMayWait_) return static_cast<int>(inbox_.size());
        int pending = 0;
        if (::ioctl(fd_.get(), FIONREAD, &pending) != 0 || pending < 0) pending = 0;
        return static_cast<int>(inbox_.size()) + pending;
    }

    int ReceiveBuf(void* buffer, int count) override {
        if (!Connected() || !buffer || count <= 0) return 0;
        ++reads_;
        if (!inbox_.empty()) {
            const std::size_t n = std::min(inbox_.size(), static_cast<std::size_t>(count));
            std::memcpy(buffer, inbox_.data(), n);
            inbox_.erase(0, n);
            return static_cast<int>(n);
        }
        for (;;) {
            const ssize_t n =
                ::recv(fd_.get(), buffer, static_cast<std::size_t>(count), MSG_DONTWAIT);
            if (n > 0) return static_cast<int>(n);
            if (n == 0) {
                server_.closeClient(*this, true); // the peer has gone
                return 0;
            }
            if (errno == EINTR) continue;
            if (WouldBlock(errno)) return 0;
            server_.failClient(*this, eeReceive, errno);
            return 0;
        }
    }

    int SendBuf(const void* buffer, int count) override {
        if (!Connected()) return -1;
        if (!buffer || count <= 0) return 0;
        const char* bytes = static_cast<const char*>(buffer);
        std::size_t sent = 0;
        const auto total = static_cast<std::size_t>(count);
        if (PendingSendBytes() == 0) {
            while (sent < total) {
                const ssize_t n =
                    ::send(fd_.get(), bytes + sent, total - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && !WouldBlock(errno)) {
                    server_.failClient(*this, eeSend, errno);
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
            if (Connected()) server_.failClient(*this, eeSend, ENOBUFS);
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
            socklen_t len = sizeof error;
            if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error == 0)
                error = ECONNRESET;
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
            const ssize_t n = ::send(fd_.get(), out_.data() + outStart_, PendingSendBytes(),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                outStart_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && !WouldBlock(errno)) {
                server_.failClient(*this, eeSend, errno);
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

    // The last chance for held-back bytes before the descriptor goes.
    void flushQuietly() {
        while (fd_ && PendingSendBytes() > 0) {
            const ssize_t n = ::send(fd_.get(), out_.data() + outStart_, PendingSendBytes(),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0) break;
            outStart_ += static_cast<std::size_t>(n);
        }
    }

    void release() {
        if (watch_ != 0) {
            server_.loop_.unwatchFd(watch_);
            watch_ = 0;
        }
        inbox_.clear();
        fd_.reset();
        out_.clear();
        outStart_ = 0;
    }

    EventLoop::Handle watch_ = 0;
    bool closing_ = false;

private:
    // What came is taken in one call and handed out from the inbox, so that
    // the handler's usual pair of questions (how much, then the bytes) costs
    // no further system call.
    void onReadable(unsigned events) {
        if (inbox_.size() < sizeof(Chunk)) {
            Chunk chunk;
            ssize_t n;
            do {
                n = ::recv(fd_.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
            } while (n < 0 && errno == EINTR);
            if (n > 0) {
                inbox_.append(chunk.data(), static_cast<std::size_t>(n));
                moreMayWait_ = static_cast<std::size_t>(n) == chunk.size();
            } else if (n == 0 || !WouldBlock(errno) || (events & EventLoop::HangUp)) {
                // The peer closed (what it sent before is still handed out) or failed.
                const int error = n < 0 && !WouldBlock(errno) ? errno : 0;
                if (!inbox_.empty()) notifyRead();
                if (!Connected()) return;
                if (error != 0)
                    server_.failClient(*this, eeReceive, error);
                else
                    server_.closeClient(*this, true);
                return;
            }
        }
        if (!inbox_.empty()) notifyRead(); // else the report was stale
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
        if (!Connected()) return;
        if (reads_ == before)
            discardWaiting();
        else if (!inbox_.empty())
            server_.notifyAgain(SocketHandle()); // as the system does for unread bytes
    }

    void discardWaiting() {
        inbox_.clear();
        char sink[4096];
        int left = ReceiveLength();
        while (left > 0) {
            const ssize_t n =
                ::recv(fd_.get(), sink, std::min<std::size_t>(sizeof sink, left), MSG_DONTWAIT);
            if (n <= 0) break;
            left -= static_cast<int>(n);
        }
    }

    PosixServerSocket& server_;
    FileDescriptor fd_;
    int handle_;
    std::string address_;
    int port_;
    int reads_ = 0;
    bool inRead_ = false;
    using Chunk = std::array<char, 4096>;
    std::string inbox_;        // received and not yet read by the handler
    bool moreMayWait_ = false; // the last receive filled its chunk
    std::string out_;
    std::size_t outStart_ = 0;
};

PosixServerSocket::PosixServerSocket(TComponent* owner, EventLoop& loop)
    : TServerSocket(owner), loop_(loop), listener_(std::make_unique<Listener>(*this)) {}

PosixServerSocket::~PosixServerSocket() { closeSilently(); }

int PosixServerSocket::ActiveConnections() const { return static_cast<int>(clients_.size()); }

TCustomWinSocket* PosixServerSocket::Connections(int index) const {
    if (index < 0 || index >= static_cast<int>(clients_.size())) return nullptr;
    return clients_[static_cast<std::size_t>(index)].get();
}

void PosixServerSocket::Open() {
    if (Active()) return;
    if (Port() < 0 || Port() > 65535)
        throw ESocketError("Socket error: invalid port " + std::to_string(Port()), EINVAL);
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) throw ESocketError(Describe(errno, "socket"), errno);
    auto fail = [](const char* api) {
        const int e = errno;
        throw ESocketError(Describe(e, api), e);
    };
    const int one = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) fail("setsockopt");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!BindAddress().empty() &&
        ::inet_pton(AF_INET, BindAddress().c_str(), &address.sin_addr) != 1) {
        throw ESocketError("Socket error: " + BindAddress() + " is no IPv4 address", EINVAL);
    }
    address.sin_port = htons(static_cast<std::uint16_t>(Port()));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
    if (::listen(fd.get(), SOMAXCONN) != 0) fail("listen");
    socklen_t len = sizeof address;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &len) != 0)
        fail("getsockname");
    listenFd_ = std::move(fd);
    localPort_ = ntohs(address.sin_port);
    listenWatch_ = loop_.watchFd(listenFd_.get(), EventLoop::Readable,
                                 [this](unsigned) { onListenerReady(); });
    SetActiveFlag(true);
    if (OnListen) OnListen(this, listener_.get());
}

void PosixServerSocket::Close() {
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
    listenFd_.reset();
    localPort_ = 0;
    if (first) std::rethrow_exception(first);
}

void PosixServerSocket::closeSilently() {
    for (auto& c : clients_) c->release();
    for (auto& c : closed_) c->release();
    clients_.clear();
    closed_.clear();
    if (resumeTimer_ != 0) loop_.stopTimer(resumeTimer_);
    if (listenWatch_ != 0) loop_.unwatchFd(listenWatch_);
    listenFd_.reset();
    resumeTimer_ = listenWatch_ = 0;
    localPort_ = 0;
    SetActiveFlag(false);
}

int PosixServerSocket::allocateHandle() {
    for (;;) {
        const int h = nextHandle_;
        nextHandle_ = nextHandle_ == INT_MAX ? 1 : nextHandle_ + 1;
        const bool inUse = std::any_of(clients_.begin(), clients_.end(),
                                       [h](const auto& c) { return c->SocketHandle() == h; });
        if (!inUse) return h;
    }
}

void PosixServerSocket::pauseAccepting() {
    if (resumeTimer_ != 0) return;
    loop_.setWatchEvents(listenWatch_, 0);
    resumeTimer_ = loop_.startTimer(kAcceptPauseMs, [this] {
        loop_.stopTimer(resumeTimer_);
        resumeTimer_ = 0;
        if (Active()) loop_.setWatchEvents(listenWatch_, EventLoop::Readable);
    });
}

void PosixServerSocket::onListenerReady() {
    for (int i = 0; i < kAcceptsPerPass && Active(); ++i) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        FileDescriptor fd(::accept4(listenFd_.get(), reinterpret_cast<sockaddr*>(&peer), &len,
                                    SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            const int e = errno;
            if (e == EINTR || e == ECONNABORTED || e == EPROTO) continue;
            if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) pauseAccepting();
            return; // EAGAIN: all taken
        }
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) text[0] = '\0';
        if (const auto refusal = refusalFor(fd.get())) {
            // Closed before anything else is done with it: the client sees
            // the connection end, and the count of clients and descriptors
            // stays where it was.
            fd.reset();
            if (OnClientRefused) OnClientRefused(this, text, *refusal);
            continue;
        }
        // Left to itself the system grows a socket's send buffer up to
        // megabytes for a client that never reads, and the backlog limit
        // would act only after that: a fixed buffer of the limit's size keeps
        // what one client can cost small.
        const int sendBuffer = static_cast<int>(std::min<std::size_t>(SendBacklogLimit(), INT_MAX));
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        // The object owns the descriptor from here on, whatever the handlers do.
        auto client = std::make_unique<Client>(*this, std::move(fd), allocateHandle(), text,
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

std::optional<TRefusal> PosixServerSocket::refusalFor(int descriptor) {
    const int clients = ActiveConnections();
    if (MaxConnections() > 0 && clients >= MaxConnections()) return TRefusal::Limit;
    const auto limit = DescriptorLimit();
    if (!limit) return std::nullopt;
    // Walking /proc/self/fd on every accept would make each connection of a
    // flood cost a walk over a thousand entries.  What the rest of the program
    // holds (everything but the clients) is counted once a second, and afresh
    // whenever the estimate comes near the reserve, except right after a count
    // that refused while no client has left since.
    const std::int64_t now = loop_.monotonicMs();
    const auto freeAfter = [&] { return *limit - (othersOpen_ + clients + 1); };
    const bool refusalStands = refusedWithClients_ >= 0 && clients >= refusedWithClients_ &&
                               now - countedAt_ < kRefusalStandsMs;
    if (now - countedAt_ >= kRecountMs || (freeAfter() < 2 * DescriptorReserve && !refusalStands)) {
        othersOpen_ = OpenDescriptors(descriptor, *limit) - (clients + 1);
        countedAt_ = now;
    }
    if (freeAfter() >= DescriptorReserve) {
        refusedWithClients_ = -1;
        return std::nullopt;
    }
    refusedWithClients_ = clients;
    return TRefusal::Descriptors;
}

void PosixServerSocket::closeClient(Client& client, bool notify) {
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

void PosixServerSocket::failClient(Client& client, TErrorEvent event, int errorCode) {
    if (!client.Connected()) return;
    int code = errorCode;
    if (OnClientError) OnClientError(this, &client, event, code);
    const std::string message = Describe(errorCode, event == eeReceive ? "recv"
                                                    : event == eeSend  ? "send"
                                                                       : "poll");
    closeClient(client, true);
    if (code != 0) throw ESocketError(message, code);
}

void PosixServerSocket::notifyAgain(int handle) {
    std::weak_ptr<int> alive = alive_;
    loop_.post([this, alive, handle] {
        if (alive.expired()) return;
        for (auto& c : clients_)
            if (c->SocketHandle() == handle && c->Connected()) {
                c->onEvents(EventLoop::Readable);
                return;
            }
    });
}

void PosixServerSocket::scheduleReap() {
    if (reapPosted_) return;
    reapPosted_ = true;
    std::weak_ptr<int> alive = alive_;
    loop_.post([this, alive] {
        if (alive.expired()) return;
        reapPosted_ = false;
        closed_.clear();
    });
}

std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop) {
    return std::make_unique<PosixServerSocket>(owner, loop);
}

} // namespace vantor
