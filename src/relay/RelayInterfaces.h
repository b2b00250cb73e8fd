#pragma once
// The narrow views the TCP relay has of the rest of the gateway: one client
// connection, the list of connections, the link cycle and the exchange data
// store.  Tests replace them with fakes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/DateTime.h"

namespace vantor {

// One network client's connection, for the duration of a call.
class RelaySocket {
public:
    virtual ~RelaySocket() = default;
    // The operating system's socket number; names the client in the queues.
    virtual std::int32_t Handle() const = 0;
    // Peer address in dotted form, for log labels.
    virtual std::string RemoteAddress() const = 0;
    // The connection's user-data word: the client's accounting cursor.
    virtual std::intptr_t UserData() const = 0;
    virtual void SetUserData(std::intptr_t value) = 0;
    // Bytes waiting to be read, and reading them.
    virtual int ReceiveLength() = 0;
    virtual int ReceiveBuf(void* buffer, int count) = 0;
    // Never blocks (the socket layer buffers what cannot go out at once).
    virtual int SendBuf(const void* data, int count) = 0;
};

// The listening socket's current connections.
class RelayConnections {
public:
    virtual ~RelayConnections() = default;
    // Calls `use` with the first connection (in list order) whose handle is
    // `handle`; false when there is none.
    virtual bool WithClient(std::int32_t handle, const std::function<void(RelaySocket&)>& use) = 0;
};

// The link cycle, as the relay hands it client requests.
class ClientRequestSink {
public:
    virtual ~ClientRequestSink() = default;
    // A client's request for the exchange: it goes out at once when the link
    // waits for nothing and nothing is queued, otherwise it waits in the
    // queue, replacing that client's earlier waiting request.
    virtual void SubmitClientRequest(std::int32_t handle,
                                     std::span<const std::uint8_t> request) = 0;
    // A client asked for line states / the SW state: keep polling them (the
    // polls stop when clients stop asking).
    virtual void ClientAskedForLineStates() = 0;
    virtual void ClientAskedForSW() = 0;
};

// What the relay needs of the exchange data store.
class RelayStore {
public:
    struct Snapshot {
        std::span<const std::uint8_t> bytes;
        TDateTime stored = 0;
        // The length of the exchange's reply when it was longer than the
        // store keeps (bytes then hold only its beginning); 0 otherwise.
        std::size_t cutReplyLength = 0;
    };
    virtual ~RelayStore() = default;
    virtual Snapshot ANSnapshot() const = 0;
    virtual Snapshot SWSnapshot() const = 0;
    // A client's identification (2) or configuration (13) request was
    // answered: the store takes the reply as if it had asked itself.  True
    // when the exchange's picture changed (cached replies are stale).
    virtual bool DecodeInfoReply(std::span<const std::uint8_t> reply) = 0;
    virtual bool DecodeConfigurationReply(std::span<const std::uint8_t> reply) = 0;
};

} // namespace vantor
