#pragma once
// The listening socket on Linux: non-blocking IPv4 TCP on all local
// addresses with SO_REUSEADDR, driven by the event loop's fd watches.
//
// Reads: OnClientRead fires while data is waiting; bytes a handler leaves
// unread are read again on the next pass, but a handler that reads nothing
// at all has the waiting bytes discarded, so the loop cannot spin on them.
// Writes: SendBuf never blocks; what the system does not take at once is kept
// and sent when the socket can write (OnClientWrite then fires).  A client
// that lets more than SendBacklogLimit() bytes pile up is dropped: first
// OnBacklogExceeded, then OnClientError (eeSend, ENOBUFS), then the
// disconnect.  Connection handles are numbers of the component's own, not
// descriptors, so a handle of a closed client is not reused at once.
//
// Limits: a connection beyond MaxConnections(), or one that would leave
// fewer than DescriptorReserve descriptors free under the process's limit
// (RLIMIT_NOFILE), is accepted and closed at once (OnClientRefused).  The
// reserve is for the program's own files: the accounting file, the serial
// line when it is opened again, the configuration and language files, the
// libraries it loads.  Without it a flood of idle clients would take every
// descriptor and those would fail instead.
#include "platform/FileDescriptor.h"
#include "toolkit/EventLoop.h"
#include "toolkit/ServerSocket.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vantor {

class PosixServerSocket final : public TServerSocket {
public:
    static constexpr long long DescriptorReserve = 64;

    PosixServerSocket(TComponent* owner, EventLoop& loop);
    // Closes everything without notifications: the handlers' owner may
    // already be half gone.
    ~PosixServerSocket() override;

    void Open() override;
    void Close() override;
    int LocalPort() const override { return localPort_; }
    int ActiveConnections() const override;
    TCustomWinSocket* Connections(int index) const override;

private:
    class Client;
    class Listener;
    friend class Client;

    void onListenerReady();
    // Why the connection just accepted on `descriptor` may not stay, if so.
    std::optional<TRefusal> refusalFor(int descriptor);
    void pauseAccepting();
    void closeClient(Client& client, bool notify);
    void failClient(Client& client, TErrorEvent event, int errorCode);
    void scheduleReap();
    // A read notification for a client on a later pass, while bytes it left
    // unread wait in its inbox.
    void notifyAgain(int handle);
    int allocateHandle();
    void closeSilently();

    EventLoop& loop_;
    FileDescriptor listenFd_;
    EventLoop::Handle listenWatch_ = 0;
    EventLoop::Handle resumeTimer_ = 0;
    int localPort_ = 0;
    int nextHandle_ = 1;
    bool reapPosted_ = false;
    // Descriptors open besides the clients, when they were last counted, and
    // the clients there were when that count refused one (-1: it did not).
    long long othersOpen_ = 0;
    std::int64_t countedAt_ = INT64_MIN / 2;
    int refusedWithClients_ = -1;
    std::unique_ptr<Listener> listener_;
    std::vector<std::unique_ptr<Client>> clients_; // live, in accept order
    std::vector<std::unique_ptr<Client>> closed_;  // freed from the loop later
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The component for the main window.
std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop);

} // namespace vantor
