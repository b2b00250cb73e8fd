#include "core/GatewayGlue.h"

#include "serial/CommPax.h"

namespace vantor {

void GatewayGlue::FlushReplyCache() {
    if (cache) cache->Flush();
}

void GatewayGlue::RestartShortsTimer() {
    if (link) link->RestartShortsTimer();
}

void GatewayGlue::ReportFault(std::string_view text) {
    if (log) log->WriteLog("!Err", text);
}

bool GatewayGlue::Bound() const { return mail && mail->Bound(); }
bool GatewayGlue::PollMailboxes() { return mail && mail->PollMailboxes(); }
void GatewayGlue::SendTrap(int kind) {
    if (mail) mail->SendTrap(kind);
}
void GatewayGlue::SendStatusMessage(std::string_view address, char addressType,
                                    std::string_view subject, std::string_view text, char flag) {
    if (mail) mail->SendStatusMessage(address, addressType, subject, text, flag);
}

void GatewayGlue::ClearCounters() {
    if (store) store->ClearCounters();
}
std::uint8_t GatewayGlue::SetCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                      std::uint8_t c, std::uint8_t d) {
    return store ? store->SetCounters(number, a, b, c, d) : TDataStore::NoPort;
}
std::uint8_t GatewayGlue::AddCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                      std::uint8_t c, std::uint8_t d) {
    return store ? store->AddCounters(number, a, b, c, d) : TDataStore::NoPort;
}

void GatewayGlue::ReplyToClient(std::int32_t socketHandle, std::span<const std::uint8_t> reply,
                                std::uint8_t requestFirstByte) {
    if (relay) relay->ReplyToClient(socketHandle, reply, requestFirstByte);
}
void GatewayGlue::CacheStore(std::span<const std::uint8_t> request,
                             std::span<const std::uint8_t> reply) {
    if (cache) cache->Store(request, reply);
}
void GatewayGlue::KeepAccountingRecord(std::string_view text) {
    if (records) records->Add(text);
}

bool GatewayGlue::IsOpen() const { return commPax && commPax->IsOpen(); }

void GatewayGlue::WritePacket(std::uint8_t sequence, std::span<const std::uint8_t> payload) {
    if (commPax) commPax->WritePacket(sequence, payload);
}

} // namespace vantor
