#pragma once
// A listening socket without a network: the test connects clients, makes
// them send, and reads what the gateway sent back.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/ServerSocket.h"

namespace vantor::test {

class FakeClientSocket : public TCustomWinSocket {
public:
    FakeClientSocket(int handle, std::string address)
        : handle_(handle), address_(std::move(address)) {}
    int SocketHandle() const override { return handle_; }
    std::string RemoteAddress() const override { return address_; }
    int RemotePort() const override { return 5000; }
    bool Connected() const override { return connected; }
    int ReceiveLength() override { return static_cast<int>(inbox.size()); }
    int ReceiveBuf(void* buffer, int count) override {
        const int n = std::min<int>(count, static_cast<int>(inbox.size()));
        std::copy_n(inbox.begin(), n, static_cast<std::uint8_t*>(buffer));
        inbox.erase(inbox.begin(), inbox.begin() + n);
        return n;
    }
    int SendBuf(const void* data, int count) override {
        if (!connected) return -1;
        auto p = static_cast<const std::uint8_t*>(data);
        sent.emplace_back(p, p + count);
        return count;
    }
    void Close() override { connected = false; }

    std::deque<std::uint8_t> inbox;
    std::vector<std::vector<std::uint8_t>> sent;
    bool connected = true;

private:
    int handle_;
    std::string address_;
};

class FakeServerSocket final : public TServerSocket {
public:
    explicit FakeServerSocket(TComponent* owner = nullptr) : TServerSocket(owner) {}
    void Open() override {
        ++opens;
        if (refuse) throw ESocketError("Address already in use", 98);
        SetActiveFlag(true);
    }
    void Close() override {
        SetActiveFlag(false);
        clients.clear();
    }
    int LocalPort() const override { return Active() ? Port() : 0; }
    int ActiveConnections() const override { return static_cast<int>(clients.size()); }
    TCustomWinSocket* Connections(int index) const override {
        return index >= 0 && index < ActiveConnections() ? clients[index].get() : nullptr;
    }

    // A client connects (the component's connect notification runs).
    FakeClientSocket& Connect(int handle, std::string address = "10.0.0.5") {
        clients.push_back(std::make_unique<FakeClientSocket>(handle, std::move(address)));
        if (OnClientConnect) OnClientConnect(this, clients.back().get());
        return *clients.back();
    }
    // The client's bytes arrive in one read notification.
    void Receive(FakeClientSocket& client, const std::vector<std::uint8_t>& bytes) {
        client.inbox.insert(client.inbox.end(), bytes.begin(), bytes.end());
        if (OnClientRead) OnClientRead(this, &client);
    }
    // The client goes away.
    void Disconnect(FakeClientSocket& client) {
        client.connected = false;
        if (OnClientDisconnect) OnClientDisconnect(this, &client);
        std::erase_if(clients, [&](const auto& c) { return c.get() == &client; });
    }

    int opens = 0;
    bool refuse = false;
    std::vector<std::unique_ptr<FakeClientSocket>> clients;
};

} // namespace vantor::test
