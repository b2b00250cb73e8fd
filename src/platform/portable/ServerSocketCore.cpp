#include "platform/portable/ServerSocketCore.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>

namespace vantor {
namespace {

// How long accepting rests when the system is out of resources.
constexpr std::uint32_t kAcceptPauseMs = 250;
// Connections taken per readiness report, so a flood cannot starve the rest.
constexpr int kAcceptsPerPass = 64;

} // namespace

class ServerSocketCore::Listener final : public TCustomWinSocket {
public:
    explicit Listener(ServerSocketCore& server) : server_(server) {}
    int SocketHandle() const override { return server_.listenDescriptor_; }
    std::string RemoteAddress() const override { return {}; }
    int RemotePort() const override { return 0; }
    bool Connected() const override { return server_.Active(); }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    int SendBuf(const void*, int) override { return -1; }
    void Close() override { server_.Close(); }

private:
    ServerSocketCore& server_;
};

int ServerSocketCore::Connection::ReceiveLength() {
    if (!socketOpen()) return 0;
    if (!inbox_.empty() && !moreMayWait_) return static_cast<int>(inbox_.size());
    return static_cast<int>(inbox_.size()) + bytesWaiting();
}

int ServerSocketCore::Connection::ReceiveBuf(void* buffer, int count) {
    if (!Connected() || !buffer || count <= 0) return 0;
    ++reads_;
    if (!inbox_.empty()) {
        const std::size_t n = std::min(inbox_.size(), static_cast<std::size_t>(count));
        std::memcpy(buffer, inbox_.data(), n);
        inbox_.erase(0, n);
        return static_cast<int>(n);
    }
    int error = 0;
    const long n = receiveSome(static_cast<char*>(buffer), static_cast<std::size_t>(count), error);
    if (n > 0) return static_cast<int>(n);
    if (n == 0)
        peerClosed(); // the peer has gone
    else if (error != 0)
        failed(eeReceive, error);
    return 0;
}

int ServerSocketCore::Connection::SendBuf(const void* buffer, int count) {
    if (!Connected()) return -1;
    if (!buffer || count <= 0) return 0;
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t sent = 0;
    const auto total = static_cast<std::size_t>(count);
    if (PendingSendBytes() == 0) {
        while (sent < total) {
            int error = 0;
            const std::size_t n = sendSome(bytes + sent, total - sent, error);
            sent += n;
            if (n > 0) continue;
            if (error != 0) {
                failed(eeSend, error);
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
        if (Connected()) failed(eeSend, server_.codes_.noBuffers);
        return -1;
    }
    server_.loop_.setWatchEvents(watch_, EventLoop::Readable | EventLoop::Writable);
    return count;
}

void ServerSocketCore::Connection::onEvents(unsigned events) {
    if (!Connected()) return;
    if (events & EventLoop::Error) {
        const int error = pendingError();
        // Data that arrived before the failure is still handed out.
        if (ReceiveLength() > 0) notifyRead();
        if (Connected()) failed(eeGeneral, error);
        return;
    }
    if (events & EventLoop::Writable) {
        flush();
        if (!Connected()) return;
    }
    if (events & (EventLoop::Readable | EventLoop::HangUp)) onReadable(events);
}

void ServerSocketCore::Connection::flush() {
    while (PendingSendBytes() > 0) {
        int error = 0;
        const std::size_t n = sendSome(out_.data() + outStart_, PendingSendBytes(), error);
        outStart_ += n;
        if (n > 0) continue;
        if (error != 0) {
            failed(eeSend, error);
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

void ServerSocketCore::Connection::flushQuietly() {
    int error = 0;
    while (socketOpen() && PendingSendBytes() > 0) {
        const std::size_t n = sendSome(out_.data() + outStart_, PendingSendBytes(), error);
        if (n == 0) break;
        outStart_ += n;
    }
}

void ServerSocketCore::Connection::release() {
    if (watch_ != 0) {
        server_.loop_.unwatchFd(watch_);
        watch_ = 0;
    }
    inbox_.clear();
    closeSocket();
    out_.clear();
    outStart_ = 0;
}

void ServerSocketCore::Connection::onReadable(unsigned events) {
    using Chunk = std::array<char, 4096>;
    if (inbox_.size() < sizeof(Chunk)) {
        Chunk chunk;
        int error = 0;
        const long n = receiveSome(chunk.data(), chunk.size(), error);
        if (n > 0) {
            inbox_.append(chunk.data(), static_cast<std::size_t>(n));
            moreMayWait_ = static_cast<std::size_t>(n) == chunk.size();
        } else if (n == 0 || error != 0 || (events & EventLoop::HangUp)) {
            // The peer closed (what it sent before is still handed out) or failed.
            if (!inbox_.empty()) notifyRead();
            if (!Connected()) return;
            if (error != 0)
                failed(eeReceive, error);
            else
                peerClosed();
            return;
        }
    }
    if (!inbox_.empty()) notifyRead(); // else the report was stale
}

void ServerSocketCore::Connection::notifyRead() {
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

void ServerSocketCore::Connection::discardWaiting() {
    inbox_.clear();
    char sink[4096];
    int left = ReceiveLength();
    while (left > 0) {
        int error = 0;
        const long n = receiveSome(sink, std::min<std::size_t>(sizeof sink, left), error);
        if (n <= 0) break;
        left -= static_cast<int>(n);
    }
}

ServerSocketCore::ServerSocketCore(TComponent* owner, EventLoop& loop, SystemCodes codes)
    : TServerSocket(owner), loop_(loop), codes_(codes),
      listener_(std::make_unique<Listener>(*this)) {}

ServerSocketCore::~ServerSocketCore() = default;

TCustomWinSocket* ServerSocketCore::Connections(int index) const {
    if (index < 0 || index >= static_cast<int>(clients_.size())) return nullptr;
    return clients_[static_cast<std::size_t>(index)].get();
}

void ServerSocketCore::Open() {
    if (Active()) return;
    if (Port() < 0 || Port() > 65535)
        throw ESocketError("Socket error: invalid port " + std::to_string(Port()),
                           codes_.invalidArgument);
    listenDescriptor_ = openListener(localPort_);
    listenWatch_ = loop_.watchFd(listenDescriptor_, EventLoop::Readable,
                                 [this](unsigned) { onListenerReady(); });
    SetActiveFlag(true);
    if (OnListen) OnListen(this, listener_.get());
}

void ServerSocketCore::Close() {
    if (!Active()) return;
    // Closed clients stay alive until the reap, so the pointers of this
    // snapshot hold even when a disconnect handler closes others.
    std::vector<Connection*> open;
    for (auto& c : clients_)
        if (!c->closing_) open.push_back(c.get());
    std::exception_ptr first;
    for (Connection* c : open) {
        try {
            closeClient(*c, true);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    stopListening();
    if (first) std::rethrow_exception(first);
}

void ServerSocketCore::closeSilently() {
    for (auto& c : clients_) c->release();
    for (auto& c : closed_) c->release();
    clients_.clear();
    closed_.clear();
    stopListening();
}

void ServerSocketCore::stopListening() {
    SetActiveFlag(false);
    if (resumeTimer_ != 0) loop_.stopTimer(resumeTimer_);
    if (listenWatch_ != 0) loop_.unwatchFd(listenWatch_);
    resumeTimer_ = listenWatch_ = 0;
    closeListener();
    listenDescriptor_ = -1;
    localPort_ = 0;
}

int ServerSocketCore::allocateHandle() {
    for (;;) {
        const int h = nextHandle_;
        nextHandle_ = nextHandle_ == INT_MAX ? 1 : nextHandle_ + 1;
        const bool inUse = std::any_of(clients_.begin(), clients_.end(),
                                       [h](const auto& c) { return c->SocketHandle() == h; });
        if (!inUse) return h;
    }
}

void ServerSocketCore::pauseAccepting() {
    if (resumeTimer_ != 0) return;
    loop_.setWatchEvents(listenWatch_, 0);
    resumeTimer_ = loop_.startTimer(kAcceptPauseMs, [this] {
        loop_.stopTimer(resumeTimer_);
        resumeTimer_ = 0;
        if (Active()) loop_.setWatchEvents(listenWatch_, EventLoop::Readable);
    });
}

void ServerSocketCore::onListenerReady() {
    for (int i = 0; i < kAcceptsPerPass && Active(); ++i) {
        bool more = false;
        std::unique_ptr<Connection> client = acceptNext(more);
        if (!client && more) continue;
        if (!client) return;
        if (const auto refusal = refusalFor(*client)) {
            // Closed before anything else is done with it: the client sees
            // the connection end, and the count of clients and descriptors
            // stays where it was.
            const std::string address = client->RemoteAddress();
            client.reset();
            if (OnClientRefused) OnClientRefused(this, address, *refusal);
            continue;
        }
        // The object owns the socket from here on, whatever the handlers do.
        client->handle_ = allocateHandle();
        if (OnAccept) OnAccept(this, listener_.get());
        if (OnGetSocket) OnGetSocket(this, client->SocketHandle());
        if (!Active()) return; // a handler closed the listener
        Connection* raw = client.get();
        raw->watch_ = loop_.watchFd(raw->Descriptor(), EventLoop::Readable,
                                    [raw](unsigned ev) { raw->onEvents(ev); });
        clients_.push_back(std::move(client));
        if (OnClientConnect) OnClientConnect(this, raw);
    }
}

std::optional<TRefusal> ServerSocketCore::refusalFor(Connection&) {
    if (MaxConnections() > 0 && ActiveConnections() >= MaxConnections()) return TRefusal::Limit;
    return std::nullopt;
}

void ServerSocketCore::closeClient(Connection& client, bool notify) {
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

void ServerSocketCore::failClient(Connection& client, TErrorEvent event, int errorCode) {
    if (!client.Connected()) return;
    int code = errorCode;
    if (OnClientError) OnClientError(this, &client, event, code);
    const std::string message = describe(errorCode, event == eeReceive ? "recv"
                                                    : event == eeSend  ? "send"
                                                                       : codes_.waitApi);
    closeClient(client, true);
    if (code != 0) throw ESocketError(message, code);
}

void ServerSocketCore::notifyAgain(int handle) {
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

void ServerSocketCore::scheduleReap() {
    if (reapPosted_) return;
    reapPosted_ = true;
    std::weak_ptr<int> alive = alive_;
    loop_.post([this, alive] {
        if (alive.expired()) return;
        reapPosted_ = false;
        closed_.clear();
    });
}

} // namespace vantor
