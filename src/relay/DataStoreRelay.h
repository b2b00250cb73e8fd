#pragma once
// The relay's view of the exchange data store: the AN and SW snapshots, the
// write watch, and the decoders that take a client's identification or
// configuration reply into the store.
#include "exchange/DataStore.h"
#include "relay/RelayInterfaces.h"

namespace vantor {

class DataStoreRelay final : public RelayStore {
public:
    explicit DataStoreRelay(TDataStore& store) : store_(store) {}

    Snapshot ANSnapshot() const override { return {store_.ANSnapshot(), store_.ANTime()}; }
    Snapshot SWSnapshot() const override { return {store_.SWSnapshot(), store_.SWTime()}; }
    void WriteWatch(std::span<const std::uint8_t> request) override { store_.WriteWatch(request); }
    void DecodeInfoReply(std::span<const std::uint8_t> reply) override {
        store_.DecodeReply('I', reply);
    }
    void DecodeConfigurationReply(std::span<const std::uint8_t> reply) override {
        store_.DecodeReply('C', reply);
    }

private:
    TDataStore& store_;
};

} // namespace vantor
