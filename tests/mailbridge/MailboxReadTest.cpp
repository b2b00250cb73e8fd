// The mailbox side of the library, on real Maildirs in a temporary folder:
// the records as the gateway reads them (by the byte offsets of the
// interface, not by the library's own structs), full and change reads, ids
// that stay, confirmation, unreadable mailboxes, the kind rules, odd files.
#include "MailTestKit.h"
#include "TempFolder.h"

#include "Config.h"
#include "Logger.h"
#include "MailAbi.h"
#include "Session.h"
#include "Status.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>

namespace vantor::test {
namespace {

namespace fs = std::filesystem;
using namespace vantorq9;
using vantor::mailabi::MailboxRecord;
using vantor::mailabi::MessageGroup;
using vantor::mailabi::MessageItem;

// The x86-64 layout the gateway relies on, as documented for library authors.
constexpr std::size_t NameAt = 9, TelephoneAt = 69, StatusAt = 109, FirstGroupAt = 113,
                      NextRecordAt = 325;
constexpr std::size_t CountAt = 1, FirstItemAt = 3, NextGroupAt = 11;
constexpr std::size_t FlagsAt = 4, IdAt = 8, NextItemAt = 54;
static_assert(NameAt == offsetof(MailboxRecord, name));
static_assert(TelephoneAt == offsetof(MailboxRecord, telephone));
static_assert(StatusAt == offsetof(MailboxRecord, status));
static_assert(FirstGroupAt == offsetof(MailboxRecord, firstGroup));
static_assert(NextRecordAt == offsetof(MailboxRecord, next));
static_assert(CountAt == offsetof(MessageGroup, count));
static_assert(FirstItemAt == offsetof(MessageGroup, firstItem));
static_assert(NextGroupAt == offsetof(MessageGroup, next));
static_assert(FlagsAt == offsetof(MessageItem, flags));
static_assert(IdAt == offsetof(MessageItem, id));
static_assert(NextItemAt == offsetof(MessageItem, next));

template <class T>
T At(const void* base, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
    return value;
}

struct Item {
    char kind;
    std::uint32_t id;
    bool removed;
};
struct Group {
    char kind;
    std::uint16_t count;
};
struct Record {
    std::string name, telephone;
    std::int32_t status;
    std::vector<Group> groups;
    std::vector<Item> items;
};

Record ReadRecord(const void* r) {
    Record out;
    out.name = reinterpret_cast<const char*>(r) + NameAt;
    out.telephone = reinterpret_cast<const char*>(r) + TelephoneAt;
    out.status = At<std::int32_t>(r, StatusAt);
    for (auto g = At<const void*>(r, FirstGroupAt); g; g = At<const void*>(g, NextGroupAt)) {
        const char kind = At<char>(g, 0);
        out.groups.push_back({kind, At<std::uint16_t>(g, CountAt)});
        for (auto i = At<const void*>(g, FirstItemAt); i; i = At<const void*>(i, NextItemAt))
            out.items.push_back(
                {kind, At<std::uint32_t>(i, IdAt), (At<std::uint32_t>(i, FlagsAt) & 6u) != 0});
    }
    return out;
}

std::vector<Record> Walk(const MailboxRecord* first) {
    std::vector<Record> out;
    for (const void* r = first; r; r = At<const void*>(r, NextRecordAt))
        out.push_back(ReadRecord(r));
    return out;
}

class MailboxReads : public ::testing::Test {
protected:
    MailboxReads()
        : office(fs::path(home.Path()) / "office"), desk(fs::path(home.Path()) / "desk") {
        log.SetEchoToStderr(false);
    }

    // A session on the two mailboxes (201 office, 202 desk) by the given rule.
    void Open(KindRule rule = KindRule::Header) {
        BridgeConfig config;
        config.kinds.rule = rule;
        config.mailboxes = {{"201", "Office", office.Root()}, {"202", "Desk", desk.Root()}};
        session = std::make_unique<Session>(config, "", "", log, stop);
    }
    std::vector<Record> Read(std::uint32_t mode) {
        MailboxRecord* first = nullptr;
        EXPECT_EQ(session->Read(&first, mode), StatusOk);
        pending = first;
        return Walk(first);
    }
    void Confirm() {
        MailboxRecord* first = pending;
        EXPECT_EQ(session->ConfirmAll(&first), StatusOk);
    }
    std::vector<Record> ReadAndConfirm(std::uint32_t mode) {
        auto records = Read(mode);
        Confirm();
        return records;
    }
    static std::set<std::uint32_t> Ids(const Record& r) {
        std::set<std::uint32_t> ids;
        for (const Item& i : r.items) ids.insert(i.id);
        return ids;
    }

    TempFolder home;
    TestMaildir office, desk;
    Logger log;
    StopSignal stop;
    std::unique_ptr<Session> session;
    MailboxRecord* pending = nullptr;
};

constexpr std::uint32_t Full = vantor::mailabi::ReadFull;
constexpr std::uint32_t Changes = vantor::mailabi::ReadChanges;

TEST_F(MailboxReads, FullReadGroupsTheWaitingMessagesOfEveryMailboxByKind) {
    office.Deliver("");
    office.Deliver("SMS");
    office.Deliver("voice");
    office.Deliver("Fax");
    office.MoveToCur(office.Deliver("voice"), "S"); // read by the user
    office.MoveToCur(office.Deliver("fax"), "T");   // trashed
    office.MoveToCur(office.Deliver(""), "");       // seen by a reader, not opened
    Open();
    const auto records = ReadAndConfirm(Full);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "Office");
    EXPECT_EQ(records[0].telephone, "201");
    EXPECT_EQ(records[0].status, 0);
    ASSERT_EQ(records[0].groups.size(), 3u);
    EXPECT_EQ(records[0].groups[0].kind, 'Q');
    EXPECT_EQ(records[0].groups[0].count, 3);
    EXPECT_EQ(records[0].groups[1].kind, 'H');
    EXPECT_EQ(records[0].groups[1].count, 1);
    EXPECT_EQ(records[0].groups[2].kind, 'F');
    EXPECT_EQ(records[0].groups[2].count, 1);
    EXPECT_EQ(Ids(records[0]).size(), 5u);
    EXPECT_FALSE(Ids(records[0]).contains(0u));
    EXPECT_EQ(records[1].telephone, "202");
    EXPECT_TRUE(records[1].groups.empty());
    EXPECT_FALSE(session->AnyChange());
}

TEST_F(MailboxReads, ChangeReadReportsNewAndRemovedMessagesUnderTheirIds) {
    const auto kept = office.Deliver("");
    const auto read = office.Deliver("");
    const auto deleted = office.Deliver("voice");
    Open();
    const auto full = ReadAndConfirm(Full);
    ASSERT_EQ(full[0].items.size(), 3u);

    // A reader lists one without opening it (same message), the user reads
    // another (no longer waiting), one is deleted, one arrives.
    office.MoveToCur(kept, "");
    office.MoveToCur(read, "S");
    fs::remove(deleted);
    desk.Deliver("fax");
    EXPECT_TRUE(session->AnyChange());
    const auto changes = ReadAndConfirm(Changes);
    ASSERT_EQ(changes.size(), 2u);
    const Record& o = changes[0];
    ASSERT_EQ(o.items.size(), 2u);
    for (const Item& i : o.items) {
        EXPECT_TRUE(i.removed);
        EXPECT_TRUE(Ids(full[0]).contains(i.id));
    }
    EXPECT_EQ(changes[1].telephone, "202");
    ASSERT_EQ(changes[1].items.size(), 1u);
    EXPECT_FALSE(changes[1].items[0].removed);
    EXPECT_EQ(changes[1].items[0].kind, 'F');
    EXPECT_FALSE(Ids(full[0]).contains(changes[1].items[0].id));
    EXPECT_EQ(changes[1].groups[0].count, 1);
    EXPECT_FALSE(session->AnyChange());
    // The message kept is still there under its first id: no change, no record.
    EXPECT_TRUE(Read(Changes).empty());
}

TEST_F(MailboxReads, AReadIsReportedAgainUntilConfirmedAndNeverAfter) {
    Open();
    ReadAndConfirm(Full);
    office.Deliver("");
    const auto first = Read(Changes); // not confirmed
    const auto again = Read(Changes);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(Ids(first[0]), Ids(again[0]));
    Confirm();
    EXPECT_FALSE(session->AnyChange());
    EXPECT_TRUE(Read(Changes).empty());
}

TEST_F(MailboxReads, AnUnreadableMailboxIsReportedForAWholeReadOnceItComesBack) {
    office.Deliver("");
    fs::remove_all(desk.Root());
    Open();
    auto full = Read(Full);
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(full[1].status, StatusMailboxUnreadable);
    // The gateway re-reads it whole; it is still gone.
    MailboxRecord* reread = reinterpret_cast<MailboxRecord*>(1);
    EXPECT_EQ(session->ReadOne(&reread, pending->next), StatusMailboxUnreadable);
    EXPECT_EQ(reread, nullptr);
    EXPECT_NE(session->ConfirmOne(&reread), StatusOk);
    Confirm();
    EXPECT_FALSE(session->AnyChange()) << "a mailbox that stays unreadable is no news";

    TestMaildir back(desk.Root());
    back.Deliver("voice");
    back.Deliver("");
    EXPECT_TRUE(session->AnyChange());
    auto changes = Read(Changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].status, StatusMailboxUnreadable);
    ASSERT_EQ(session->ReadOne(&reread, pending), StatusOk);
    const Record whole = ReadRecord(reread);
    EXPECT_EQ(whole.telephone, "202");
    EXPECT_EQ(whole.items.size(), 2u);
    EXPECT_EQ(session->ConfirmOne(&reread), StatusOk);
    Confirm();
    EXPECT_FALSE(session->AnyChange());

    // A mailbox whose folder vanishes is reported in the next change read.
    fs::rename(office.Root(), fs::path(home.Path()) / "moved");
    EXPECT_TRUE(session->AnyChange());
    changes = ReadAndConfirm(Changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].telephone, "201");
    EXPECT_EQ(changes[0].status, StatusMailboxUnreadable);
}

TEST_F(MailboxReads, TheFolderRuleTakesTheKindFromTheMaildirPlusPlusSubFolder) {
    TestMaildir fax(office.Root() / ".Fax"), voice(office.Root() / ".Voice"),
        trash(office.Root() / ".Trash");
    office.Deliver("fax"); // the header does not count under this rule
    fax.Deliver("");
    fax.Deliver("");
    voice.Deliver("");
    trash.Deliver("");
    Open(KindRule::Folder);
    const auto records = ReadAndConfirm(Full);
    ASSERT_EQ(records[0].groups.size(), 3u);
    EXPECT_EQ(records[0].groups[0].kind, 'Q');
    EXPECT_EQ(records[0].groups[0].count, 1);
    EXPECT_EQ(records[0].groups[1].kind, 'H');
    EXPECT_EQ(records[0].groups[1].count, 1);
    EXPECT_EQ(records[0].groups[2].kind, 'F');
    EXPECT_EQ(records[0].groups[2].count, 2);
}

TEST_F(MailboxReads, ThousandsOfMessagesAndOddFilesAreReadWithoutFault) {
    for (int i = 0; i < 3000; ++i) office.Deliver(i % 3 == 0 ? "voice" : "");
    fs::create_directory(office.Root() / "new" / "a-folder");
    std::ofstream(office.Root() / "new" / ".hidden") << "x";
    std::ofstream(office.Root() / "new" / "empty.file");
    std::ofstream(office.Root() / "new" / "garbage.file", std::ios::binary)
        << std::string("\0\xff\x01X-Message-Kind: voice\n", 25);
    std::ofstream(office.Root() / "cur" / "no-info-part");
    Open();
    const auto records = ReadAndConfirm(Full);
    ASSERT_EQ(records[0].groups.size(), 2u);
    EXPECT_EQ(records[0].groups[0].count, 2000 + 3); // the odd files count as SMS
    EXPECT_EQ(records[0].groups[1].count, 1000);
    EXPECT_EQ(Ids(records[0]).size(), 3003u);
    EXPECT_FALSE(session->AnyChange());
}

} // namespace
} // namespace vantor::test
