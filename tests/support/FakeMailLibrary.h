#pragma once
// An in-process stand-in for the mail-bridge library: the ten entry points
// as plain functions that record their calls in one shared state (the
// bindings take C function pointers, so the state cannot be per object), and
// a builder for the mailbox record chains the library hands back.
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mail/MailAbi.h"
#include "toolkit/SymbolSource.h"

namespace vantor::test {

struct MailLibraryState {
    std::vector<std::string> calls;
    std::int32_t initStatus = 0;
    std::int32_t sendStatus = 0;
    std::int32_t quickTest = 1;
    std::int32_t readStatus = 0;
    std::int32_t rereadStatus = 0;
    std::uint32_t debugLevel = 0xFFFFFFFF;
    std::function<void()> onQuickTest; // runs inside the quick test
    std::vector<std::string> initArgs;
    std::vector<std::uint32_t> readModes;    // mode word at each read call
    mailabi::MailboxRecord* chain = nullptr; // what the read of all mailboxes returns
    std::map<mailabi::MailboxRecord*, mailabi::MailboxRecord*> rereads; // record -> re-read record
    struct Sent {
        std::string address, subject, text;
        std::int32_t type, flag;
    };
    std::vector<Sent> sent;
};

// The one state of the stand-in; reset it at the start of each test.
extern MailLibraryState mailLib;

// Every entry point by its export name.
std::map<std::string, void*> MailLibraryExports();

// A library with the given symbols.
struct FakeSymbols : SymbolSource {
    std::map<std::string, void*> symbols;
    void* Symbol(const char* name) override {
        auto it = symbols.find(name);
        return it == symbols.end() ? nullptr : it->second;
    }
};

// Opens the stand-in (with these symbols) under any name, and remembers the
// names asked for.
SymbolSourceOpener FakeMailLibraryOpener(std::map<std::string, void*> symbols,
                                         std::vector<std::string>* requested = nullptr);

// Owns the records of one library answer.
struct Mailboxes {
    std::deque<mailabi::MailboxRecord> records;
    std::deque<mailabi::MessageGroup> groups;
    std::deque<mailabi::MessageItem> items;

    mailabi::MailboxRecord* Box(const char* name, const char* tel, std::int32_t status = 0) {
        mailabi::MailboxRecord& r = records.emplace_back();
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.name, name, sizeof r.name - 1);
        std::strncpy(r.telephone, tel, sizeof r.telephone - 1);
        r.status = status;
        return &r;
    }
    // Group with items (id, flags) at the front of the record's group chain end.
    mailabi::MessageGroup*
    Group(mailabi::MailboxRecord* box, char kind, std::uint16_t count,
          std::vector<std::pair<std::uint32_t, std::uint32_t>> itemList = {}) {
        mailabi::MessageGroup& g = groups.emplace_back();
        std::memset(&g, 0, sizeof g);
        g.kind = kind;
        g.count = count;
        mailabi::MessageItem* last = nullptr;
        for (auto [id, flags] : itemList) {
            mailabi::MessageItem& it = items.emplace_back();
            std::memset(&it, 0, sizeof it);
            it.id = id;
            it.flags = flags;
            if (last)
                last->next = &it;
            else
                g.firstItem = &it;
            last = &it;
        }
        if (box->firstGroup == nullptr) {
            box->firstGroup = &g;
        } else {
            mailabi::MessageGroup* tail = box->firstGroup;
            while (tail->next) tail = tail->next;
            tail->next = &g;
        }
        return &g;
    }
    static void Chain(std::initializer_list<mailabi::MailboxRecord*> boxes) {
        mailabi::MailboxRecord* prev = nullptr;
        for (mailabi::MailboxRecord* b : boxes) {
            if (prev) prev->next = b;
            prev = b;
        }
    }
};

} // namespace vantor::test
