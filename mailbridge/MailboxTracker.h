#pragma once
// What the gateway has taken over from each mailbox, and what changed since.
// Each message gets a 32-bit id the first time it is listed; the id stays
// with its unique name for as long as the message is there, and no id is
// given twice in a session, so the gateway's count of a removed message
// never hits another one.  A read produces a snapshot per mailbox; only a
// confirmation makes it the state the next change read compares against, so
// a read the gateway did not confirm is reported again, and a confirmed one
// never twice.
#include "Maildir.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantorq9 {

struct TrackedMessage {
    std::uint32_t id = 0;
    char kind = KindSms;
};

struct Snapshot {
    bool failed = false;
    std::string error;
    std::map<std::string, TrackedMessage> messages; // by key
};

struct MailboxDelta {
    // The mailbox must be re-read whole: it could not be read, it can be
    // read again after it could not, or it was never taken over.
    bool wholeRead = false;
    std::vector<TrackedMessage> added;
    std::vector<TrackedMessage> removed;
    bool Empty() const { return !wholeRead && added.empty() && removed.empty(); }
};

class MailboxTracker {
public:
    // The kind of a newly listed message; nullopt when the file has gone.
    using KindReader = std::function<std::optional<char>(const MaildirEntry&)>;

    explicit MailboxTracker(std::size_t mailboxes) : states_(mailboxes) {}

    // Whether the listing differs from what was last confirmed (the quick
    // test: no file is opened).  A mailbox that stays unreadable is no change.
    bool Changed(std::size_t mailbox, const MaildirListing& listing) const;
    // The mailbox as listed, with ids (kinds read for new messages only).
    Snapshot Take(std::size_t mailbox, const MaildirListing& listing, const KindReader& kindOf);
    MailboxDelta Compare(std::size_t mailbox, const Snapshot& snapshot) const;
    void Confirm(std::size_t mailbox, const Snapshot& snapshot);

    bool Failed(std::size_t mailbox) const { return states_.at(mailbox).failed; }

private:
    struct State {
        bool taken = false; // confirmed at least once
        bool failed = false;
        std::map<std::string, TrackedMessage> confirmed;
        std::map<std::string, TrackedMessage> offered; // listed, not yet confirmed
    };
    std::uint32_t NextId();

    std::vector<State> states_;
    std::uint32_t nextId_ = 1;
};

} // namespace vantorq9
