#include "Session.h"

#include "Address.h"
#include "MimeMessage.h"
#include "Status.h"

#include <ctime>

namespace vantorq9 {

namespace {

using vantor::mailabi::ReadChanges;
using vantor::mailabi::ReadFull;

bool IsUtf8(std::string_view text) { return ToUtf8(text, TextCharset::Utf8) == text; }

std::string Counts(const Snapshot& s) {
    int sms = 0, voice = 0, fax = 0;
    for (const auto& [key, m] : s.messages)
        (m.kind == KindFax ? fax : m.kind == KindVoice ? voice : sms) += 1;
    return "SMS " + std::to_string(sms) + ", voice " + std::to_string(voice) + ", fax " +
           std::to_string(fax);
}

bool HasControl(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

} // namespace

Session::Session(BridgeConfig config, std::string user, std::string password, Logger& log,
                 const StopSignal& stop)
    : config_(std::move(config)), log_(log), stop_(stop),
      smtp_(config_.smtp, user.empty() ? config_.smtp.user : user,
            user.empty() ? config_.smtp.password : password, log, stop),
      tracker_(config_.mailboxes.size()), lastProblem_(config_.mailboxes.size()) {
    for (const MailboxConfig& m : config_.mailboxes) {
        // The owner is written in the file in UTF-8 (or, from an old editor,
        // already 8-bit); the gateway shows it in its own charset.
        std::string owner = IsUtf8(m.owner) ? FromUtf8(m.owner, config_.charset) : m.owner;
        owners_.push_back(owner.substr(0, sizeof(MailboxRecord{}.name) - 1));
    }
}

Session::~Session() = default;

std::string Session::Label(std::size_t mailbox) const {
    const MailboxConfig& m = config_.mailboxes[mailbox];
    return "mailbox " + m.extension + " (" + Printable(m.owner, 60) + ")";
}

std::int32_t Session::Start() {
    for (const std::string& w : config_.warnings) log_.Warning("configuration " + w);
    if (!curl_.Ok()) {
        log_.Error("libcurl could not be initialised");
        return StatusMailFailed;
    }
    if (config_.smtp.url.empty()) {
        log_.Notice("no SMTP server configured: messages are not sent");
    } else {
        if (!smtp_.UrlError().empty()) {
            log_.Error("configuration " + smtp_.UrlError());
            return StatusConfigInvalid;
        }
        log_.Notice("mail goes to " + smtp_.Url() +
                    (config_.smtp.startTls ? " with STARTTLS" : "") + " from " + config_.smtp.from);
        if (smtp_.HasLogin() && !config_.smtp.startTls && !smtp_.Url().starts_with("smtps://"))
            log_.Warning("the SMTP login goes over an unencrypted connection (set StartTls=yes "
                         "or use an smtps:// URL)");
        if (config_.smtp.checkAtStart) {
            const SmtpOutcome outcome = smtp_.Check();
            if (outcome.status != StatusOk) {
                log_.Error("the mail server cannot be used: " + Printable(outcome.error) +
                           " [status " + std::to_string(outcome.status) + "]");
                return outcome.status;
            }
            log_.Notice("the mail server answers");
        }
    }
    const CancelToken cancel(stop_);
    for (std::size_t i = 0; i < config_.mailboxes.size(); ++i) {
        const MaildirListing listing = List(i, cancel);
        if (listing.ok)
            log_.Notice(Label(i) + ": " + config_.mailboxes[i].path.string() + ", " +
                        std::to_string(listing.entries.size()) + " waiting");
        else
            log_.Warning(Label(i) + " cannot be read now: " + Printable(listing.error));
    }
    return StatusOk;
}

std::int32_t Session::Send(std::string_view address, char type, std::string_view subject,
                           std::string_view text, std::int32_t flag) {
    const std::string to = ToUtf8(address, config_.charset);
    const Recipient recipient = ResolveRecipient(config_, type, to);
    if (recipient.status != StatusOk) {
        log_.Error("message not sent: " + Printable(recipient.error) + " [status " +
                   std::to_string(recipient.status) + "]");
        return recipient.status;
    }
    if (config_.smtp.url.empty()) {
        log_.Error("message to " + recipient.address +
                   " not sent: no SMTP server configured ([SMTP] Url) [status " +
                   std::to_string(StatusSendingOff) + "]");
        return StatusSendingOff;
    }
    MailText mail;
    mail.fromAddress = config_.smtp.from;
    mail.fromName = config_.smtp.fromName;
    mail.to = recipient.address;
    mail.subject = ToUtf8(subject, config_.charset);
    mail.body = ToUtf8(text, config_.charset);
    mail.date = std::time(nullptr);
    mail.messageId = NewMessageId(mail.fromAddress);
    if (HasControl(mail.subject))
        log_.Info("control characters in the subject of the message to " + mail.to +
                  " are sent as blanks");
    const SmtpOutcome outcome = smtp_.Send(mail.fromAddress, mail.to, BuildMessage(mail));
    if (outcome.status != StatusOk) {
        log_.Error("message to " + mail.to + " not sent: " + Printable(outcome.error) +
                   " [status " + std::to_string(outcome.status) + "]");
        return outcome.status;
    }
    log_.Info("sent to " + mail.to + " (type " + (type ? std::string(1, type) : "none") +
              ", flag " + std::to_string(flag) + "): " + Printable(OneLine(mail.subject)));
    return StatusOk;
}

MaildirListing Session::List(std::size_t mailbox, const CancelToken& cancel) const {
    return ListMaildir(config_.mailboxes[mailbox].path, config_.kinds, cancel);
}

Snapshot Session::TakeSnapshot(std::size_t mailbox, const MaildirListing& listing) {
    Snapshot snapshot = tracker_.Take(mailbox, listing, [&](const MaildirEntry& e) {
        std::string problem;
        const auto kind = KindFromHeader(e.file, config_.kinds, problem);
        if (!problem.empty())
            log_.Warning(Label(mailbox) + ": " + Printable(problem) + "; counted as SMS");
        return kind;
    });
    ReportReadable(mailbox, snapshot);
    return snapshot;
}

// An unreadable mailbox is logged when it becomes so (or for another reason)
// and when it can be read again, not on every poll.
void Session::ReportReadable(std::size_t mailbox, const Snapshot& snapshot) {
    std::string& last = lastProblem_[mailbox];
    if (snapshot.failed && snapshot.error != last) {
        log_.Error(Label(mailbox) + " cannot be read: " + Printable(snapshot.error) + " [status " +
                   std::to_string(StatusMailboxUnreadable) + "]");
        last = snapshot.error;
    } else if (!snapshot.failed && !last.empty()) {
        log_.Notice(Label(mailbox) + " can be read again");
        last.clear();
    }
}

bool Session::AnyChange() {
    const CancelToken cancel(stop_);
    for (std::size_t i = 0; i < config_.mailboxes.size(); ++i) {
        if (cancel.Requested()) return false;
        if (tracker_.Changed(i, List(i, cancel))) {
            log_.Detail(Label(i) + " has changed");
            return true;
        }
    }
    return false;
}

std::int32_t Session::Read(MailboxRecord** first, std::uint32_t mode) {
    if (read_) {
        // The gateway confirms every read it took; one it did not take is
        // reported again by this one.
        log_.Warning("the previous mailbox read was not confirmed; it is read again");
        read_.reset();
    }
    const bool whole = mode != ReadChanges;
    if (mode != ReadFull && mode != ReadChanges)
        log_.Warning("unknown read mode " + std::to_string(mode) + ", reading every message");
    auto read = std::make_unique<PendingRead>();
    read->snapshots.resize(config_.mailboxes.size());
    const CancelToken cancel(stop_);
    for (std::size_t i = 0; i < config_.mailboxes.size(); ++i) {
        if (cancel.Requested()) {
            log_.Notice("mailbox read stopped");
            return StatusReadFailed;
        }
        const MaildirListing listing = List(i, cancel);
        if (cancel.Requested()) {
            log_.Notice("mailbox read stopped");
            return StatusReadFailed;
        }
        if (!whole && !tracker_.Changed(i, listing)) continue;
        Snapshot snapshot = TakeSnapshot(i, listing);
        const std::string& extension = config_.mailboxes[i].extension;
        if (snapshot.failed) {
            read->mailboxOf[read->chain.AddRecord(owners_[i], extension, StatusMailboxUnreadable)] =
                i;
        } else if (whole) {
            MailboxRecord* r = read->chain.AddRecord(owners_[i], extension, StatusOk);
            read->chain.FillWhole(r, snapshot);
            read->mailboxOf[r] = i;
            log_.Detail(Label(i) + ": " + Counts(snapshot));
        } else {
            const MailboxDelta delta = tracker_.Compare(i, snapshot);
            if (delta.wholeRead) {
                read->mailboxOf[read->chain.AddRecord(owners_[i], extension,
                                                      StatusMailboxUnreadable)] = i;
                log_.Detail(Label(i) + ": to be read whole");
            } else if (!delta.Empty()) {
                MailboxRecord* r = read->chain.AddRecord(owners_[i], extension, StatusOk);
                read->chain.FillChanges(r, delta);
                read->mailboxOf[r] = i;
                log_.Info(Label(i) + ": " + std::to_string(delta.added.size()) + " new, " +
                          std::to_string(delta.removed.size()) + " removed");
            }
        }
        read->snapshots[i] = std::move(snapshot);
    }
    *first = read->chain.First();
    read_ = std::move(read);
    return StatusOk;
}

std::int32_t Session::ReadOne(MailboxRecord** record, const MailboxRecord* original) {
    if (!read_ || !read_->mailboxOf.contains(original)) {
        log_.Error("a mailbox was to be read whole for a record this library did not hand out");
        *record = nullptr;
        return StatusUnknownRecord;
    }
    const std::size_t i = read_->mailboxOf.at(original);
    const CancelToken cancel(stop_);
    Snapshot snapshot = TakeSnapshot(i, List(i, cancel));
    if (snapshot.failed) {
        read_->snapshots[i] = std::move(snapshot);
        *record = nullptr;
        return StatusMailboxUnreadable;
    }
    MailboxRecord* r =
        read_->chain.AddRecord(owners_[i], config_.mailboxes[i].extension, StatusOk, false);
    read_->chain.FillWhole(r, snapshot);
    read_->mailboxOf[r] = i;
    log_.Info(Label(i) + " read whole: " + Counts(snapshot));
    read_->snapshots[i] = std::move(snapshot);
    *record = r;
    return StatusOk;
}

std::int32_t Session::ConfirmOne(MailboxRecord** record) {
    if (!read_ || !*record) return StatusUnknownRecord;
    const auto found = read_->mailboxOf.find(*record);
    if (found == read_->mailboxOf.end()) return StatusUnknownRecord;
    std::optional<Snapshot>& snapshot = read_->snapshots[found->second];
    if (snapshot) {
        tracker_.Confirm(found->second, *snapshot);
        snapshot.reset();
    }
    return StatusOk;
}

std::int32_t Session::ConfirmAll(MailboxRecord** first) {
    if (!read_) return StatusUnknownRecord;
    if (*first != read_->chain.First())
        log_.Warning("a mailbox read was confirmed with another first record; taken as confirmed");
    for (std::size_t i = 0; i < read_->snapshots.size(); ++i)
        if (read_->snapshots[i]) tracker_.Confirm(i, *read_->snapshots[i]);
    read_.reset();
    *first = nullptr;
    return StatusOk;
}

} // namespace vantorq9
