#pragma once
// The relay's view of the exchange data store: the AN and SW snapshots and
// the decoders that take a client's identification or configuration reply
// into the store.
#include "exchange/DataStore.h"
#include "relay/RelayInterfaces.h"

namespace vantor {

class DataStoreRelay final : public RelayStore {
public:
    explicit DataStoreRelay(TDataStore& store) : store_(store) {}

    Snapshot ANSnapshot() const override {
        return {store_.ANSnapshot(), store_.ANTime(),
                CutLength(store_.ANReplyLength(), store_.ANLength())};
    }
    Snapshot SWSnapshot() const override {
        return {store_.SWSnapshot(), store_.SWTime(),
                CutLength(store_.SWReplyLength(), store_.SWLength())};
    }
    bool DecodeInfoReply(std::span<const std::uint8_t> reply) override {
        return store_.DecodeReply(RequestKind::Identification, reply).exchangeChanged;
    }
    bool DecodeConfigurationReply(std::span<const std::uint8_t> reply) override {
        return store_.DecodeReply(RequestKind::Configuration, reply).exchangeChanged;
    }

private:
    static std::size_t CutLength(std::size_t reply, std::size_t kept) {
        return reply > kept ? reply : 0;
    }

    TDataStore& store_;
};

} // namespace vantor
