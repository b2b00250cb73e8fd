#pragma once
// The gateway's parts, as tests look at and drive them.  The gateway keeps
// its parts to itself and offers the window only commands on values; a test
// reaches inside through this one friend.
#include "core/Gateway.h"

namespace vantor::test {

class GatewayParts {
public:
    explicit GatewayParts(Gateway& gateway) : g_(gateway) {}

    Settings& Config() { return g_.settings_; }
    const PrefixTable& Prefixes() const { return g_.prefixes_; }
    TrafficLog& Log() { return g_.log_; }
    TTimer& PortRetryTimer() { return g_.portRetry_; }
    TLanguageTable& LanguageTable() { return g_.language_; }
    ExchangeLink& Link() { return g_.link_; }
    TDataStore& Store() { return g_.store_; }
    TCommPax& CommPax1() { return g_.commPax_; }
    TServerSocket& ServerSocket1() { return *g_.serverSocket_; }
    ReplyCache& Cache() { return g_.cache_; }
    AccountingRecordList& AccountingRecords() { return g_.records_; }
    AccountingFile& Accounting() { return g_.accountingFile_; }
    TMailBridge& MailBridge() { return g_.mail_; }
    TXAPI& Plugin() { return g_.plugin_; }
    // As a start with "/hide" sets it.
    void RequestTrayIcon() { g_.hideToTray_ = true; }

private:
    Gateway& g_;
};

} // namespace vantor::test
