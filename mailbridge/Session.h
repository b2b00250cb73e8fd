#pragma once
// One opened library connection (InicializaceQ9Komunikace to
// DeInicializaceQ9Komunikace): the configuration, the SMTP client, the
// mailbox state and the read the gateway has not confirmed yet.  Each entry
// point of the library becomes one call here; the C interface around it only
// guards against exceptions and hands over the global session.
#include "Config.h"
#include "Logger.h"
#include "MailboxTracker.h"
#include "RecordChain.h"
#include "SmtpClient.h"
#include "StopSignal.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantorq9 {

class Session {
public:
    // user/password: the login the gateway passes; when its user name is
    // empty, the file's [SMTP] User and Password are used.
    Session(BridgeConfig config, std::string user, std::string password, Logger& log,
            const StopSignal& stop);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Checks what can be checked at start: the SMTP server (greeting, TLS,
    // login) when configured so, the mailboxes (a missing one is only
    // reported).  0 or the status of the failure.
    std::int32_t Start();

    std::int32_t Send(std::string_view address, char type, std::string_view subject,
                      std::string_view text, std::int32_t flag);

    bool AnyChange();
    std::int32_t Read(MailboxRecord** first, std::uint32_t mode);
    std::int32_t ReadOne(MailboxRecord** record, const MailboxRecord* original);
    std::int32_t ConfirmOne(MailboxRecord** record);
    std::int32_t ConfirmAll(MailboxRecord** first);

private:
    struct PendingRead {
        RecordChain chain;
        std::map<const MailboxRecord*, std::size_t> mailboxOf;
        std::vector<std::optional<Snapshot>> snapshots; // to confirm, per mailbox
    };

    MaildirListing List(std::size_t mailbox, const CancelToken& cancel) const;
    Snapshot TakeSnapshot(std::size_t mailbox, const MaildirListing& listing);
    void ReportReadable(std::size_t mailbox, const Snapshot& snapshot);
    std::string Label(std::size_t mailbox) const;

    BridgeConfig config_;
    Logger& log_;
    const StopSignal& stop_;
    CurlGlobal curl_;
    SmtpClient smtp_;
    MailboxTracker tracker_;
    std::vector<std::string> owners_;      // in the gateway's charset, cut to the field
    std::vector<std::string> lastProblem_; // last unreadable reason logged, per mailbox
    std::unique_ptr<PendingRead> read_;
};

} // namespace vantorq9
