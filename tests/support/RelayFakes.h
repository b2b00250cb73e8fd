#pragma once
// The rest of the gateway as the TCP relay sees it, played by fakes over the
// relay's own interfaces: client connections with an inbox and a record of
// what was sent, the list of connections, the data store's snapshots and the
// link that takes client requests.  Shared by the relay's unit tests and its
// fuzz target, so both drive the relay through the same stand-ins.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "relay/RelayInterfaces.h"

namespace vantor::test {

class FakeRelaySocket : public RelaySocket {
public:
    explicit FakeRelaySocket(std::int32_t handle, std::string address = {})
        : handle_(handle),
          address_(address.empty() ? "10.0.0." + std::to_string(handle) : std::move(address)) {}
    std::int32_t Handle() const override { return handle_; }
    std::string RemoteAddress() const override { return address_; }
    std::intptr_t UserData() const override { return data_; }
    void SetUserData(std::intptr_t value) override { data_ = value; }
    // The count may say more or less than a read then gives, as a socket's
    // may (lengthSkew).
    int ReceiveLength() override { return static_cast<int>(inbox.size()) + lengthSkew; }
    int ReceiveBuf(void* buffer, int count) override {
        const int n = std::clamp<int>(count, 0, static_cast<int>(inbox.size()));
        std::copy_n(inbox.begin(), n, static_cast<std::uint8_t*>(buffer));
        inbox.erase(inbox.begin(), inbox.begin() + n);
        ++reads;
        return n;
    }
    // Every send is kept, an empty one too, so a test can see it happened.
    int SendBuf(const void* data, int count) override {
        auto p = static_cast<const std::uint8_t*>(data);
        sent.emplace_back(p, p + std::max(count, 0));
        return count;
    }

    std::deque<std::uint8_t> inbox;
    int lengthSkew = 0;
    std::vector<std::vector<std::uint8_t>> sent;
    int reads = 0;

private:
    std::int32_t handle_;
    std::string address_;
    std::intptr_t data_ = 0;
};

class FakeRelayConnections : public RelayConnections {
public:
    bool WithClient(std::int32_t handle, const std::function<void(RelaySocket&)>& use) override {
        for (FakeRelaySocket* s : sockets)
            if (s->Handle() == handle) {
                use(*s);
                return true;
            }
        return false;
    }
    std::vector<FakeRelaySocket*> sockets; // the live connections, in list order
};

class FakeRelayStore : public RelayStore {
public:
    Snapshot ANSnapshot() const override { return {an, anTime, anCut}; }
    Snapshot SWSnapshot() const override { return {sw, swTime, swCut}; }
    bool DecodeInfoReply(std::span<const std::uint8_t> r) override {
        infoReplies.emplace_back(r.begin(), r.end());
        return changes;
    }
    bool DecodeConfigurationReply(std::span<const std::uint8_t> r) override {
        configReplies.emplace_back(r.begin(), r.end());
        return changes;
    }
    std::vector<std::uint8_t> an, sw;
    TDateTime anTime = 0, swTime = 0;
    std::size_t anCut = 0, swCut = 0; // the exchange's reply was this long
    bool changes = false;             // whether a decoded reply changes the exchange's picture
    std::vector<std::vector<std::uint8_t>> infoReplies, configReplies;
};

// The link as the relay hands it requests: it only records them.
class FakeRequestSink : public ClientRequestSink {
public:
    void SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        submitted.emplace_back(handle, std::vector<std::uint8_t>(r.begin(), r.end()));
    }
    void ClientAskedForLineStates() override { ++lineStateAsks; }
    void ClientAskedForSW() override { ++swAsks; }
    std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> submitted;
    int lineStateAsks = 0, swAsks = 0;
};

} // namespace vantor::test
