#pragma once
// The listening-socket component the TCP relay is built on: one listening
// socket, the list of its client connections in accept order, and the
// notification slots the main window handles.  Everything happens on the
// event loop's thread.  This header holds the component's interface only; the
// Linux implementation is platform/PosixServerSocket.h, the Windows one
// platform/win32/Win32ServerSocket.h, and tests may derive their own.
//
// Lifetime rules: a connection object stays valid during its own
// notifications, even when it is closed inside one; once closed it leaves the
// connections list and is freed later from the loop.  Closing the listener
// closes every client.
#include "toolkit/Component.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vantor {

// A socket failure the component could not hand to a handler (opening the
// listener), or one that a client-error handler left standing.
class ESocketError : public std::runtime_error {
public:
    explicit ESocketError(const std::string& message, int errorCode = 0)
        : std::runtime_error(message), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// One end of a connection as the handlers see it.
class TCustomWinSocket {
public:
    virtual ~TCustomWinSocket() = default;

    // Identifies the connection while it lives; never given to two live
    // connections of one listener, and not handed out again soon after a
    // connection closed, so a late reply cannot reach a newcomer.
    virtual int SocketHandle() const = 0;
    // The peer's IPv4 address in dotted form ("" for the listener itself).
    virtual std::string RemoteAddress() const = 0;
    virtual int RemotePort() const = 0;
    virtual bool Connected() const = 0;

    // Bytes waiting to be read (0 when none or closed).
    virtual int ReceiveLength() = 0;
    // Reads up to count bytes; returns how many were read, 0 when nothing is
    // waiting or the connection ended or failed (the component then reports
    // and closes it).
    virtual int ReceiveBuf(void* buffer, int count) = 0;
    // Queues count bytes for the peer without blocking.  Returns count, or -1
    // when the connection is closed or failed while sending.
    virtual int SendBuf(const void* buffer, int count) = 0;
    int SendText(const std::string& text) {
        return SendBuf(text.data(), static_cast<int>(text.size()));
    }
    // Bytes accepted by SendBuf that the system has not taken yet.
    virtual std::size_t PendingSendBytes() const { return 0; }
    // Closes the connection (the disconnect notification follows at once).
    virtual void Close() = 0;

    // One word for the handlers' own use, 0 when the connection is made.
    std::intptr_t Data = 0;
};

using TSocketNotifyEvent = std::function<void(TObject* sender, TCustomWinSocket* socket)>;
// The handler may clear errorCode; left non-zero, the component throws
// ESocketError after it closed the connection.
using TSocketErrorEvent = std::function<void(TObject* sender, TCustomWinSocket* socket,
                                             TErrorEvent errorEvent, int& errorCode)>;
// Asked before the connection object for a new socket is made.  The
// component always uses its own default connection object.
using TGetSocketEvent = std::function<void(TObject* sender, int socketHandle)>;
// A client stopped reading: more than SendBacklogLimit() bytes would wait.
using TBacklogEvent =
    std::function<void(TObject* sender, TCustomWinSocket* socket, std::size_t unsentBytes)>;
// Why a connection was closed as soon as it was accepted.
enum class TRefusal {
    Limit,       // MaxConnections() clients are connected already
    Descriptors, // it would take one of the descriptors kept for the program's own use
};
// A connection was accepted and closed at once; no connection object was made
// and no other notification runs for it.
using TRefusedEvent =
    std::function<void(TObject* sender, const std::string& remoteAddress, TRefusal reason)>;

class TServerSocket : public TComponent {
public:
    explicit TServerSocket(TComponent* owner) : TComponent(owner) {}
    std::string ClassName() const override { return "TServerSocket"; }

    int Port() const { return port_; }
    // The port cannot change while the socket listens.
    void SetPort(int port) {
        if (Active()) throw ESocketError("Cannot change the port of an open socket");
        port_ = port;
    }
    // The local IPv4 address to listen on, dotted; empty: every address.
    const std::string& BindAddress() const { return bindAddress_; }
    void SetBindAddress(std::string address) {
        if (Active()) throw ESocketError("Cannot change the address of an open socket");
        bindAddress_ = std::move(address);
    }
    bool Active() const { return active_; }
    void SetActive(bool active) { active ? Open() : Close(); }

    // Starts listening on all local IPv4 addresses (throws ESocketError).
    virtual void Open() = 0;
    // Closes every client, then the listener.  Does nothing when closed.
    virtual void Close() = 0;
    // The port actually bound (useful with Port 0); 0 while closed.
    virtual int LocalPort() const = 0;

    virtual int ActiveConnections() const = 0;
    // The i-th connection in accept order, or null when out of range.
    virtual TCustomWinSocket* Connections(int index) const = 0;

    std::size_t SendBacklogLimit() const { return backlogLimit_; }
    void SetSendBacklogLimit(std::size_t bytes) { backlogLimit_ = bytes; }

    // At most this many clients at once; one more is accepted and closed at
    // once (OnClientRefused).  0: no limit of its own, only the descriptors.
    int MaxConnections() const { return maxConnections_; }
    void SetMaxConnections(int count) { maxConnections_ = count < 0 ? 0 : count; }

    TSocketNotifyEvent OnListen;           // after listening started (socket: the listener)
    TSocketNotifyEvent OnAccept;           // a connection is being accepted (the listener)
    TGetSocketEvent OnGetSocket;           // then the connection object is requested
    TSocketNotifyEvent OnClientConnect;    // then the client is in the list
    TSocketNotifyEvent OnClientDisconnect; // peer closed, Close(), or after an error
    TSocketErrorEvent OnClientError;       // a send or receive failed
    TSocketNotifyEvent OnClientWrite;      // data held back has all been sent
    TSocketNotifyEvent OnClientRead;       // data is waiting: ReceiveLength/ReceiveBuf
    TBacklogEvent OnBacklogExceeded;       // just before the client error it causes
    TRefusedEvent OnClientRefused;         // a connection over the limits was closed

protected:
    void SetActiveFlag(bool active) { active_ = active; }

private:
    int port_ = 0;
    std::string bindAddress_;
    bool active_ = false;
    std::size_t backlogLimit_ = 64 * 1024;
    int maxConnections_ = 0;
};

} // namespace vantor
