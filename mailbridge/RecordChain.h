#pragma once
// The records one read hands to the gateway, laid out exactly as the public
// mail header says (packed, native pointers).  The chain owns them all, and
// they stay where they are until the chain is destroyed, which happens only
// when the gateway confirms the read: the gateway walks the records after
// the call that produced them returned.
#include "MailAbi.h"
#include "MailboxTracker.h"

#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vantorq9 {

using vantor::mailabi::MailboxRecord;
using vantor::mailabi::MessageGroup;
using vantor::mailabi::MessageItem;

// Flag of an item that left the mailbox (bit 1; the gateway tests mask 6).
inline constexpr std::uint32_t ItemRemoved = 2;

class RecordChain {
public:
    RecordChain() = default;
    RecordChain(const RecordChain&) = delete;
    RecordChain& operator=(const RecordChain&) = delete;

    // A new record at the end of the chain, or (linked = false) one of its
    // own for a mailbox read whole on request.  Texts are cut to their fields.
    MailboxRecord* AddRecord(std::string_view owner, std::string_view telephone,
                             std::int32_t status, bool linked = true);
    // Every message, one group per kind with its count (a whole read).
    void FillWhole(MailboxRecord* record, const Snapshot& snapshot);
    // New messages, and removed ones flagged, grouped by kind (a change read).
    void FillChanges(MailboxRecord* record, const MailboxDelta& delta);

    MailboxRecord* First() const { return first_; }
    bool Owns(const MailboxRecord* record) const { return owned_.contains(record); }

private:
    struct Item {
        TrackedMessage message;
        std::uint32_t flags;
    };
    void AddGroup(MailboxRecord* record, char kind, const std::vector<Item>& items,
                  std::size_t count);

    std::deque<MailboxRecord> records_;
    std::deque<MessageGroup> groups_;
    std::deque<MessageItem> items_;
    std::unordered_set<const MailboxRecord*> owned_;
    MailboxRecord* first_ = nullptr;
    MailboxRecord* last_ = nullptr;
};

} // namespace vantorq9
