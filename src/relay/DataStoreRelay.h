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

    Snapshot ANSnapshot() const override { return {store_.ANSnapshot(), store_.ANTime()}; }
    Snapshot SWSnapshot() const override { return {store_.SWSnapshot(), store_.SWTime()}; }
    bool DecodeInfoReply(std::span<const std::uint8_t> reply) override {
        return store_.DecodeReply(RequestKind::Identification, reply).exchangeChanged;
    }
    bool DecodeConfigurationReply(std::span<const std::uint8_t> reply) override {
        return store_.DecodeReply(RequestKind::Configuration, reply).exchangeChanged;
    }

private:
    TDataStore& store_;
};

} // namespace vantor
