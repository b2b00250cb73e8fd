#include "core/RequestQueue.h"

#include <algorithm>

namespace vantor {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameKey(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

} // namespace

bool RequestQueue::Enqueue(RequestKind kind, std::int32_t argument,
                           std::span<const std::uint8_t> bytes) {
    Entry entry;
    entry.kind = kind;
    entry.argument = argument;
    if (kind == RequestKind::Client) {
        entry.key = "T" + std::to_string(argument);
        // The newest request of a client replaces its waiting one.
        std::erase_if(entries_, [&](const Entry& e) { return e.key == entry.key; });
        auto record = std::make_unique<RelayedRequest>();
        record->firstByte = bytes.empty() ? 0 : bytes[0];
        record->socketHandle = argument;
        const std::size_t kept = std::min(bytes.size(), RelayedRequestMaxBytes);
        record->bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        entry.relayed = std::move(record);
    } else {
        entry.key = std::string(1, LetterOf(kind));
        // A periodic request waits once: the one already waiting will carry
        // fresh data by the time it is served.  'S'/'s' and 'X'/'x' share a key
        // here, so a waiting 's' also holds back a new 'S'.
        if (!InfoOf(kind).mayRepeat) {
            for (const Entry& e : entries_)
                if (SameKey(e.key, entry.key)) return false;
        }
    }
    if (entries_.size() >= Capacity) {
        auto client = std::find_if(entries_.begin(), entries_.end(),
                                   [](const Entry& e) { return e.kind == RequestKind::Client; });
        entries_.erase(client != entries_.end() ? client : entries_.begin());
    }
    entries_.push_back(std::move(entry));
    return true;
}

void RequestQueue::Clear() { entries_.clear(); }

void RequestQueue::FillInitialSet() {
    Clear();
    for (RequestKind kind : {RequestKind::Configuration, RequestKind::Identification,
                             RequestKind::PortStructure, RequestKind::PortList})
        Enqueue(kind, 0);
}

RequestQueue::Entry RequestQueue::TakeNext() {
    auto next = entries_.begin();
    if (lastServedClient_) {
        auto own = std::find_if(entries_.begin(), entries_.end(),
                                [](const Entry& e) { return e.kind != RequestKind::Client; });
        if (own != entries_.end()) next = own;
    }
    Entry entry = std::move(*next);
    entries_.erase(next);
    lastServedClient_ = entry.kind == RequestKind::Client;
    return entry;
}

bool RequestQueue::Contains(const std::string& key) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return e.key == key; });
}

} // namespace vantor
