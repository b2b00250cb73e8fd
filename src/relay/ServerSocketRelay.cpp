#include "relay/ServerSocketRelay.h"

#include <string>

#include "nls/TextIds.h"
#include "relay/ClientRelay.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

namespace vantor {

ServerSocketRelay::ServerSocketRelay(TServerSocket& server, LogWriter& log, const TextSource& texts)
    : server_(server), log_(log), texts_(texts) {}

void ServerSocketRelay::Attach(ClientRelay& relay) {
    relay_ = &relay;
    server_.OnListen = [this](TObject* s, TCustomWinSocket* c) { ServerSocket1Listen(s, c); };
    server_.OnAccept = [this](TObject* s, TCustomWinSocket* c) { ServerSocket1Accept(s, c); };
    server_.OnGetSocket = [this](TObject* s, int h) { ServerSocket1GetSocket(s, h); };
    server_.OnClientConnect = [this](TObject* s, TCustomWinSocket* c) {
        ServerSocket1ClientConnect(s, c);
    };
    server_.OnClientDisconnect = [this](TObject* s, TCustomWinSocket* c) {
        ServerSocket1ClientDisconnect(s, c);
    };
    server_.OnClientError = [this](TObject* s, TCustomWinSocket* c, TErrorEvent e, int& code) {
        ServerSocket1ClientError(s, c, e, code);
    };
    server_.OnClientWrite = [this](TObject* s, TCustomWinSocket* c) {
        ServerSocket1ClientWrite(s, c);
    };
    server_.OnClientRead = [this](TObject* s, TCustomWinSocket* c) {
        ServerSocket1ClientRead(s, c);
    };
    server_.OnBacklogExceeded = [this](TObject* s, TCustomWinSocket* c, std::size_t n) {
        BacklogExceeded(s, c, n);
    };
    server_.OnClientRefused = [this](TObject* s, const std::string& address, TRefusal reason) {
        ClientRefused(s, address, reason);
    };
}

bool ServerSocketRelay::Open(int port, bool reportFailure) {
    try {
        server_.SetPort(port);
        server_.Open();
    } catch (const std::exception& e) {
        if (!reportFailure) return false;
        std::string text = texts_.Msg(msg::ListenFailed);
        text += " (port " + std::to_string(port) + ": " + e.what() + ")";
        log_.WriteLog("!Err", text);
        return false;
    }
    log_.WriteLog("-OK-", texts_.Msg(msg::Listening));
    return true;
}

void ServerSocketRelay::Close() {
    if (server_.Active()) server_.Close();
}

bool ServerSocketRelay::WithClient(std::int32_t handle,
                                   const std::function<void(RelaySocket&)>& use) {
    const int count = server_.ActiveConnections();
    for (int i = 0; i < count; ++i) {
        TCustomWinSocket* socket = server_.Connections(i);
        if (socket && socket->SocketHandle() == handle) {
            WinSocketView view(*socket);
            use(view);
            return true;
        }
    }
    return false;
}

void ServerSocketRelay::ServerSocket1Listen(TObject*, TCustomWinSocket*) {
    log_.SetStatusText("OnListen");
}

void ServerSocketRelay::ServerSocket1Accept(TObject*, TCustomWinSocket*) {
    log_.SetStatusText("OnAccept");
}

void ServerSocketRelay::ServerSocket1GetSocket(TObject*, int) { log_.SetStatusText("OnGetSocket"); }

void ServerSocketRelay::SetAccess(ClientAccessList access, std::function<std::int64_t()> clockMs) {
    access_ = std::move(access);
    clockMs_ = std::move(clockMs);
}

void ServerSocketRelay::ServerSocket1ClientConnect(TObject*, TCustomWinSocket* socket) {
    const std::string address = socket ? socket->RemoteAddress() : std::string();
    if (socket && !access_.Allows(address)) {
        // One line per address per minute: a client that keeps knocking must
        // not flood the log.
        const std::int64_t now = clockMs_ ? clockMs_() : 0;
        auto [it, first] = refusedAt_.try_emplace(address, now);
        if (first || now - it->second >= 60000) {
            it->second = now;
            log_.WriteLog("!Err", "Connection from " + address + " refused (not in IPAllow)");
        }
        if (refusedAt_.size() > 10000) refusedAt_.clear(); // bounded whatever knocks
        socket->Close();
        return;
    }
    log_.SetStatusText("OnClientConnect " + address);
}

void ServerSocketRelay::ServerSocket1ClientDisconnect(TObject*, TCustomWinSocket* socket) {
    log_.SetStatusText("OnClientDisconnect " + (socket ? socket->RemoteAddress() : std::string()));
}

void ServerSocketRelay::ServerSocket1ClientError(TObject*, TCustomWinSocket*, TErrorEvent,
                                                 int& errorCode) {
    // The component closes the connection; nothing else is to be done, and
    // no exception may leave the notification.
    log_.SetStatusText("OnClientError");
    errorCode = 0;
}

void ServerSocketRelay::ServerSocket1ClientWrite(TObject*, TCustomWinSocket*) {
    log_.SetStatusText("OnClientWrite");
}

void ServerSocketRelay::ServerSocket1ClientRead(TObject*, TCustomWinSocket* socket) {
    if (!socket || !relay_) return;
    WinSocketView view(*socket);
    relay_->ClientRead(view);
}

void ServerSocketRelay::BacklogExceeded(TObject*, TCustomWinSocket* socket,
                                        std::size_t unsentBytes) {
    if (!socket) return;
    WinSocketView view(*socket);
    log_.WriteLog("!Err", ClientRelay::ClientLabel(">IP:", view) + " does not read its replies (" +
                              std::to_string(unsentBytes) + " bytes unsent); disconnected");
}

void ServerSocketRelay::ClientRefused(TObject*, const std::string&, TRefusal reason) {
    // A flood of connections must not become a flood of log lines: the first
    // refusal is logged at once, later ones at most once a minute with how
    // many there were meanwhile.
    ++overLimitCount_;
    const std::int64_t now = clockMs_ ? clockMs_() : 0;
    if (overLimitLineAt_ && now - *overLimitLineAt_ < 60000) return;
    overLimitLineAt_ = now;
    std::string text = reason == TRefusal::Limit ? texts_.Msg(msg::ClientRefusedLimit) +
                                                       std::to_string(server_.MaxConnections())
                                                 : texts_.Msg(msg::ClientRefusedDescriptors);
    text += texts_.Msg(msg::RefusedSinceLastLine) + std::to_string(overLimitCount_);
    overLimitCount_ = 0;
    log_.WriteLog("!Err", text);
}

} // namespace vantor
