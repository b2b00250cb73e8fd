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
#include "platform/FileDescriptor.h"
#include "toolkit/EventLoop.h"
#include "toolkit/ServerSocket.h"

#include <memory>
#include <vector>

namespace vantor {

class PosixServerSocket final : public TServerSocket {
public:
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
    std::unique_ptr<Listener> listener_;
    std::vector<std::unique_ptr<Client>> clients_; // live, in accept order
    std::vector<std::unique_ptr<Client>> closed_;  // freed from the loop later
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The component for the main window.
std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop);

} // namespace vantor
