#include "RecordChain.h"

#include <algorithm>
#include <cstring>

namespace vantorq9 {

namespace {

template <std::size_t N>
void CopyText(char (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The kinds in the order their groups appear in a record.
constexpr char Kinds[] = {KindSms, KindVoice, KindFax};

char GroupOf(char kind) { return kind == KindFax || kind == KindVoice ? kind : KindSms; }

} // namespace

MailboxRecord* RecordChain::AddRecord(std::string_view owner, std::string_view telephone,
                                      std::int32_t status, bool linked) {
    MailboxRecord& r = records_.emplace_back();
    std::memset(&r, 0, sizeof r);
    CopyText(r.name, owner);
    CopyText(r.telephone, telephone);
    r.status = status;
    owned_.insert(&r);
    if (linked) {
        if (last_)
            last_->next = &r;
        else
            first_ = &r;
        last_ = &r;
    }
    return &r;
}

void RecordChain::AddGroup(MailboxRecord* record, char kind, const std::vector<Item>& items,
                           std::size_t count) {
    MessageGroup& g = groups_.emplace_back();
    std::memset(&g, 0, sizeof g);
    g.kind = kind;
    // The field is 16 bits; beyond that the low bits go, as the gateway keeps
    // only the low 8 of every counter anyway.
    g.count = static_cast<std::uint16_t>(count);
    MessageItem* previous = nullptr;
    for (const Item& it : items) {
        MessageItem& m = items_.emplace_back();
        std::memset(&m, 0, sizeof m);
        m.flags = it.flags;
        m.id = it.message.id;
        if (previous)
            previous->next = &m;
        else
            g.firstItem = &m;
        previous = &m;
    }
    // Groups keep the order they are added in.  (The packed fields are
    // reached through their structs only: a pointer to one would be
    // misaligned.)
    if (!record->firstGroup) {
        record->firstGroup = &g;
        return;
    }
    MessageGroup* last = record->firstGroup;
    while (last->next) last = last->next;
    last->next = &g;
}

void RecordChain::FillWhole(MailboxRecord* record, const Snapshot& snapshot) {
    for (const char kind : Kinds) {
        std::vector<Item> items;
        for (const auto& [key, message] : snapshot.messages)
            if (GroupOf(message.kind) == kind) items.push_back({message, 0});
        if (!items.empty()) AddGroup(record, kind, items, items.size());
    }
}

void RecordChain::FillChanges(MailboxRecord* record, const MailboxDelta& delta) {
    for (const char kind : Kinds) {
        std::vector<Item> items;
        std::size_t added = 0;
        for (const TrackedMessage& m : delta.added)
            if (GroupOf(m.kind) == kind) {
                items.push_back({m, 0});
                ++added;
            }
        for (const TrackedMessage& m : delta.removed)
            if (GroupOf(m.kind) == kind) items.push_back({m, ItemRemoved});
        if (!items.empty()) AddGroup(record, kind, items, added);
    }
}

} // namespace vantorq9
