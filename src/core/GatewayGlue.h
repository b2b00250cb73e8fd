#pragma once
// The adapters through which the main window's components see each other.  Each
// one declares the few things it needs as a small interface; the main window
// answers them here by delegating to the component that has the answer.  Nothing
// here holds state of its own.
#include "core/ExchangeLink.h"
#include "exchange/DataStore.h"
#include "exchange/ReplyDispatcher.h"
#include "mail/MailBridge.h"
#include "relay/ClientRelay.h"
#include "relay/RelayInterfaces.h"
#include "relay/ReplyCache.h"
#include "accounting/AccountingRecordList.h"
#include "toolkit/LogWriter.h"

#include <functional>

namespace vantor {

class TCommPax;

struct GatewayGlue final : DataStoreHooks,
                           MailPort,
                           MessageCounterTable,
                           ReplyConsumers,
                           PacketPort {
    // Set by the main window as the components come to exist.
    LogWriter* log = nullptr;
    ReplyCache* cache = nullptr;
    ExchangeLink* link = nullptr;
    TDataStore* store = nullptr;
    TMailBridge* mail = nullptr;
    ClientRelay* relay = nullptr;
    AccountingRecordList* records = nullptr;
    TCommPax* commPax = nullptr;

    // DataStoreHooks
    void FlushReplyCache() override;
    void RestartShortsTimer() override;
    void ReportFault(std::string_view text) override;

    // MailPort
    bool Bound() const override;
    bool PollMailboxes() override;
    void SendTrap(int kind) override;
    void SendStatusMessage(std::string_view address, char addressType, std::string_view subject,
                           std::string_view text, char flag) override;

    // MessageCounterTable
    void ClearCounters() override;
    std::uint8_t SetCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                             std::uint8_t c, std::uint8_t d) override;
    std::uint8_t AddCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                             std::uint8_t c, std::uint8_t d) override;

    // ReplyConsumers
    void ReplyToClient(std::int32_t socketHandle, std::span<const std::uint8_t> reply,
                       std::uint8_t requestFirstByte) override;
    void CacheStore(std::span<const std::uint8_t> request,
                    std::span<const std::uint8_t> reply) override;
    void KeepAccountingRecord(std::string_view text) override;

    // PacketPort
    bool IsOpen() const override;
    void WritePacket(std::uint8_t sequence, std::span<const std::uint8_t> payload) override;
};

} // namespace vantor
