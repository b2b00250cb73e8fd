#pragma once
// The half of the listening socket that is the same on every system: the
// clients in accept order and their handles, accepting with its limits and
// pauses, data held back and the backlog limit, reads a handler leaves
// unread, the order of the notifications, closing and freeing the clients.
// A system's socket derives from it and adds only its own calls (opening,
// accepting, sending, receiving, closing) and its error codes, so both keep
// the same rules by construction:
//
// Reads: OnClientRead fires while data is waiting; bytes a handler leaves
// unread are read again on the next pass, but a handler that reads nothing
// at all has the waiting bytes discarded, so the loop cannot spin on them.
// Writes: SendBuf never blocks; what the system does not take at once is kept
// and sent when the socket can write (OnClientWrite then fires).  A client
// that lets more than SendBacklogLimit() bytes pile up is dropped: first
// OnBacklogExceeded, then OnClientError (eeSend, the system's "no buffer
// space" code), then the disconnect.  Connection handles are numbers of the
// component's own, not the system's, so a handle of a closed client is not
// reused at once.  A connection beyond MaxConnections() is accepted and
// closed at once (OnClientRefused, TRefusal::Limit).
#include "toolkit/EventLoop.h"
#include "toolkit/ServerSocket.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

class ServerSocketCore : public TServerSocket {
public:
    // The system's codes and names the shared half reports with.
    struct SystemCodes {
        int invalidArgument; // a port out of range
        int noBuffers;       // a client's backlog over the limit
        const char* waitApi; // the call that reports a socket's failure
    };

    class Connection : public TCustomWinSocket {
    public:
        Connection(ServerSocketCore& server, std::string address, int port)
            : server_(server), address_(std::move(address)), port_(port) {}

        int SocketHandle() const override { return handle_; }
        std::string RemoteAddress() const override { return address_; }
        int RemotePort() const override { return port_; }
        bool Connected() const override { return socketOpen() && !closing_; }
        std::size_t PendingSendBytes() const override { return out_.size() - outStart_; }
        int ReceiveLength() override;
        int ReceiveBuf(void* buffer, int count) override;
        int SendBuf(const void* buffer, int count) override;
        void Close() override { server_.closeClient(*this, true); }

        // What the loop watches for this connection.
        virtual int Descriptor() const = 0;

    protected:
        // The system's calls, none of which blocks.  Sent: bytes (> 0), or 0
        // with `error` the system's code, 0 when it takes nothing more now.
        virtual std::size_t sendSome(const char* data, std::size_t size, int& error) = 0;
        // Received: bytes (> 0), 0 when the peer has closed, or -1 with
        // `error` the system's code, 0 when nothing is waiting.
        virtual long receiveSome(char* buffer, std::size_t size, int& error) = 0;
        // Bytes the system holds for reading.
        virtual int bytesWaiting() = 0;
        // Why the loop reported the socket failed (never 0).
        virtual int pendingError() = 0;
        virtual bool socketOpen() const = 0;
        virtual void closeSocket() = 0;
        // The socket is readable or hung up.  What came is taken in one call
        // and handed out from the inbox, so that the handler's usual pair of
        // questions (how much, then the bytes) costs no further system call.
        virtual void onReadable(unsigned events);

        void notifyRead();
        void peerClosed() { server_.closeClient(*this, true); }
        void failed(TErrorEvent event, int error) { server_.failClient(*this, event, error); }
        // The socket and its watch go; the system's destructor calls this.
        void release();

    private:
        friend class ServerSocketCore;
        void onEvents(unsigned events);
        // Sends as much held-back data as the system takes now.
        void flush();
        // The last chance for held-back bytes before the socket goes.
        void flushQuietly();
        void discardWaiting();

        ServerSocketCore& server_;
        int handle_ = 0;
        std::string address_;
        int port_;
        EventLoop::Handle watch_ = 0;
        bool closing_ = false;
        int reads_ = 0;
        bool inRead_ = false;
        std::string inbox_;        // received and not yet read by the handler
        bool moreMayWait_ = false; // the last receive filled its chunk
        std::string out_;
        std::size_t outStart_ = 0;
    };

    void Open() override;
    void Close() override;
    int LocalPort() const override { return localPort_; }
    int ActiveConnections() const override { return static_cast<int>(clients_.size()); }
    TCustomWinSocket* Connections(int index) const override;

protected:
    ServerSocketCore(TComponent* owner, EventLoop& loop, SystemCodes codes);
    ~ServerSocketCore() override;

    // Closes everything without notifications: the handlers' owner may
    // already be half gone.  The system's destructor calls this.
    void closeSilently();
    // Rests accepting a while, when the system is out of resources; the
    // waiting connections stay queued meanwhile.
    void pauseAccepting();

    // Binds Port() on BindAddress() and listens (throws ESocketError);
    // returns what the loop watches and sets `port` to the port bound.
    virtual int openListener(int& port) = 0;
    virtual void closeListener() = 0;
    // The next waiting connection, non-blocking, its send buffer at the
    // backlog limit.  Null with `more` set: that one was dropped, others may
    // wait; without: none waits, or accepting rests.
    virtual std::unique_ptr<Connection> acceptNext(bool& more) = 0;
    // Why the connection just accepted may not stay, if so.
    virtual std::optional<TRefusal> refusalFor(Connection& client);
    virtual std::string describe(int error, const char* api) const = 0;

    EventLoop& loop_;

private:
    class Listener;

    void onListenerReady();
    void closeClient(Connection& client, bool notify);
    void failClient(Connection& client, TErrorEvent event, int errorCode);
    void scheduleReap();
    // A read notification for a client on a later pass, while bytes it left
    // unread wait in its inbox.
    void notifyAgain(int handle);
    int allocateHandle();
    void stopListening();

    SystemCodes codes_;
    int listenDescriptor_ = -1;
    EventLoop::Handle listenWatch_ = 0;
    EventLoop::Handle resumeTimer_ = 0;
    int localPort_ = 0;
    int nextHandle_ = 1;
    bool reapPosted_ = false;
    std::unique_ptr<Listener> listener_;
    std::vector<std::unique_ptr<Connection>> clients_; // live, in accept order
    std::vector<std::unique_ptr<Connection>> closed_;  // freed from the loop later
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace vantor
