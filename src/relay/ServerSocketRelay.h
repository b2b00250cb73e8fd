#pragma once
// Puts the client relay on the listening-socket component: opens the
// listener on IPPort with its start-up log line, shows the socket
// notifications on the status line, silences client errors, hands read
// notifications to the relay, and finds clients by socket handle.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "relay/ClientAccessList.h"
#include "relay/RelayInterfaces.h"
#include "toolkit/ServerSocket.h"

namespace vantor {

class ClientRelay;
class LogWriter;
class TextSource;

// A connection of the component, seen through the relay's narrow interface.
class WinSocketView final : public RelaySocket {
public:
    explicit WinSocketView(TCustomWinSocket& socket) : socket_(socket) {}
    std::int32_t Handle() const override { return socket_.SocketHandle(); }
    std::string RemoteAddress() const override { return socket_.RemoteAddress(); }
    std::intptr_t UserData() const override { return socket_.Data; }
    void SetUserData(std::intptr_t value) override { socket_.Data = value; }
    int ReceiveLength() override { return socket_.ReceiveLength(); }
    int ReceiveBuf(void* buffer, int count) override { return socket_.ReceiveBuf(buffer, count); }
    int SendBuf(const void* data, int count) override { return socket_.SendBuf(data, count); }

private:
    TCustomWinSocket& socket_;
};

class ServerSocketRelay final : public RelayConnections {
public:
    ServerSocketRelay(TServerSocket& server, LogWriter& log, const TextSource& texts);

    // Serves only clients the list allows; a refused client is closed at
    // once, with one log line per address per minute (clockMs: a monotonic
    // clock in milliseconds, also the clock of the refusal lines below).
    void SetAccess(ClientAccessList access, std::function<std::int64_t()> clockMs);

    // Assigns every notification slot of the component.  Reads go to `relay`
    // (which must outlive the component's notifications).
    void Attach(ClientRelay& relay);

    // Opens the listener on `port`: "-OK-" with text 119, or "!Err" with
    // text 121 (and the reason) when it cannot listen; false then, and the
    // gateway goes on without the relay.
    bool Open(int port, bool reportFailure = true);
    // Closes the listener and every client, if open.
    void Close();

    bool WithClient(std::int32_t handle, const std::function<void(RelaySocket&)>& use) override;

    // The notification handlers, by the main window's names.
    void ServerSocket1Listen(TObject* sender, TCustomWinSocket* socket);
    void ServerSocket1Accept(TObject* sender, TCustomWinSocket* socket);
    void ServerSocket1GetSocket(TObject* sender, int socketHandle);
    void ServerSocket1ClientConnect(TObject* sender, TCustomWinSocket* socket);
    void ServerSocket1ClientDisconnect(TObject* sender, TCustomWinSocket* socket);
    void ServerSocket1ClientError(TObject* sender, TCustomWinSocket* socket, TErrorEvent event,
                                  int& errorCode);
    void ServerSocket1ClientWrite(TObject* sender, TCustomWinSocket* socket);
    void ServerSocket1ClientRead(TObject* sender, TCustomWinSocket* socket);
    void BacklogExceeded(TObject* sender, TCustomWinSocket* socket, std::size_t unsentBytes);
    // A connection beyond the component's limits was closed at once: one
    // "!Err" line at most per minute, with the count refused since the last.
    void ClientRefused(TObject* sender, const std::string& remoteAddress, TRefusal reason);

private:
    TServerSocket& server_;
    LogWriter& log_;
    const TextSource& texts_;
    ClientRelay* relay_ = nullptr;
    ClientAccessList access_;
    std::function<std::int64_t()> clockMs_;
    std::map<std::string, std::int64_t> refusedAt_; // address -> when last logged
    std::int64_t overLimitCount_ = 0;               // refused beyond the limits since the last line
    std::optional<std::int64_t> overLimitLineAt_;
};

} // namespace vantor
