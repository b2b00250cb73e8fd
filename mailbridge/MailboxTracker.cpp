#include "MailboxTracker.h"

namespace vantorq9 {

std::uint32_t MailboxTracker::NextId() {
    if (nextId_ == 0) nextId_ = 1; // after four billion messages; 0 is kept out
    return nextId_++;
}

bool MailboxTracker::Changed(std::size_t mailbox, const MaildirListing& listing) const {
    const State& s = states_.at(mailbox);
    if (!s.taken) return true;
    if (!listing.ok) return !s.failed;
    if (s.failed) return true;
    if (listing.entries.size() != s.confirmed.size()) return true;
    for (const MaildirEntry& e : listing.entries)
        if (!s.confirmed.contains(e.key)) return true;
    return false;
}

Snapshot MailboxTracker::Take(std::size_t mailbox, const MaildirListing& listing,
                              const KindReader& kindOf) {
    State& s = states_.at(mailbox);
    Snapshot snapshot;
    if (!listing.ok) {
        snapshot.failed = true;
        snapshot.error = listing.error;
        return snapshot;
    }
    for (const MaildirEntry& e : listing.entries) {
        if (auto it = s.confirmed.find(e.key); it != s.confirmed.end()) {
            snapshot.messages.emplace(e.key, it->second);
        } else if (auto it = s.offered.find(e.key); it != s.offered.end()) {
            snapshot.messages.emplace(e.key, it->second);
        } else {
            const std::optional<char> kind = e.kind ? std::optional<char>(e.kind) : kindOf(e);
            if (!kind) continue; // gone since the listing; the next read sees where it went
            const TrackedMessage m{NextId(), *kind};
            s.offered.emplace(e.key, m);
            snapshot.messages.emplace(e.key, m);
        }
    }
    return snapshot;
}

MailboxDelta MailboxTracker::Compare(std::size_t mailbox, const Snapshot& snapshot) const {
    const State& s = states_.at(mailbox);
    MailboxDelta delta;
    if (!s.taken || s.failed || snapshot.failed) {
        delta.wholeRead = true;
        return delta;
    }
    for (const auto& [key, message] : snapshot.messages)
        if (!s.confirmed.contains(key)) delta.added.push_back(message);
    for (const auto& [key, message] : s.confirmed)
        if (!snapshot.messages.contains(key)) delta.removed.push_back(message);
    return delta;
}

void MailboxTracker::Confirm(std::size_t mailbox, const Snapshot& snapshot) {
    State& s = states_.at(mailbox);
    s.taken = true;
    if (snapshot.failed) {
        // What was taken over before stays; the mailbox is read whole once
        // it can be read again.
        s.failed = true;
        return;
    }
    s.failed = false;
    s.confirmed = snapshot.messages;
    s.offered.clear();
}

} // namespace vantorq9
