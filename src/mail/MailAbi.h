#pragma once
// Binary interface of the mail-bridge library libvantorq9.so, for the gateway
// and for anyone writing a replacement library.  The ten functions are plain
// C exports.  The records the library hands back are packed, little-endian,
// and hold native pointers, so on x86-64 the fields after a pointer sit 4
// bytes later than on a 32-bit build.  Texts are NUL-terminated 8-bit texts.
#include <cstddef>
#include <cstdint>

namespace vantor::mailabi {

struct MessageItem;
struct MessageGroup;
struct MailboxRecord;

#pragma pack(push, 1)

// One message of a mailbox.
struct MessageItem {
    std::uint8_t reserved[4];
    std::uint32_t flags; // bit 1 or bit 2 (mask 6): removed from the mailbox
    std::uint32_t id;
    std::uint8_t unused[42];
    MessageItem* next; // null at the end
};

// All messages of one kind in a mailbox.
struct MessageGroup {
    char kind;              // 'F' fax, 'H' voice message, anything else SMS
    std::uint16_t count;    // messages of this kind (used by a full read)
    MessageItem* firstItem; // null for none
    MessageGroup* next;     // null at the end
};

// One mailbox with something to report.
struct MailboxRecord {
    std::uint8_t reserved[9];
    char name[60];            // owner, NUL-terminated
    char telephone[40];       // extension, NUL-terminated
    std::int32_t status;      // 2005: re-read the mailbox whole
    MessageGroup* firstGroup; // null for none
    std::uint8_t unused[204];
    MailboxRecord* next; // null at the end
};

// Allocated by the gateway for each poll; only the mode word is set.
struct ReadParameters {
    std::uint32_t mode; // ReadFull or ReadChanges
    std::uint8_t unset[24];
};

#pragma pack(pop)

inline constexpr std::uint32_t ReadFull = 1;
inline constexpr std::uint32_t ReadChanges = 3;
inline constexpr std::int32_t StatusRereadMailbox = 2005;

static_assert(sizeof(void*) == 8, "the record layouts below are those of a 64-bit build");
static_assert(offsetof(MessageItem, flags) == 4);
static_assert(offsetof(MessageItem, id) == 8);
static_assert(offsetof(MessageItem, unused) == 12);
static_assert(offsetof(MessageItem, next) == 54);
static_assert(sizeof(MessageItem) == 62);
static_assert(offsetof(MessageGroup, kind) == 0);
static_assert(offsetof(MessageGroup, count) == 1);
static_assert(offsetof(MessageGroup, firstItem) == 3);
static_assert(offsetof(MessageGroup, next) == 11);
static_assert(sizeof(MessageGroup) == 19);
static_assert(offsetof(MailboxRecord, name) == 9);
static_assert(offsetof(MailboxRecord, telephone) == 69);
static_assert(offsetof(MailboxRecord, status) == 109);
static_assert(offsetof(MailboxRecord, firstGroup) == 113);
static_assert(offsetof(MailboxRecord, unused) == 121);
static_assert(offsetof(MailboxRecord, next) == 325);
static_assert(sizeof(MailboxRecord) == 333);
static_assert(sizeof(ReadParameters) == 28);

extern "C" {
// 1: re-reads one mailbox whole; *record in: the record, out: the re-read one.
using NactiZmenyVeSchranceFn = std::int32_t (*)(MailboxRecord** record, ReadParameters* params,
                                                MailboxRecord* original);
// 2: confirms one re-read mailbox.
using PotvrdPreneseniZmenVeSchranceFn = std::int32_t (*)(MailboxRecord** record);
// 3: non-zero when any mailbox has changes.
using RychlyTestZmenVeSchrankachFn = std::int32_t (*)();
// 4: reads all mailboxes; *first receives the first record of a chain.
using NactiZmenyVeSchrankachFn = std::int32_t (*)(MailboxRecord** first, ReadParameters* params);
// 5: confirms that the whole read was taken over (result not examined).
using PotvrdPreneseniZmenVeSchrankachFn = std::int32_t (*)(MailboxRecord** first);
// 6: sends a status message; addressType and flag are characters in the low byte.
using PosliStavovouZpravuFn = std::int32_t (*)(const char* address, std::int32_t addressType,
                                               const char* subject, const char* text,
                                               std::int32_t flag);
// 7: opens the connection.
using InicializaceQ9KomunikaceFn = std::int32_t (*)(const char* configPath, const char* user,
                                                    const char* workDir, const char* password);
// 8: closes the connection (result not examined).
using DeInicializaceQ9KomunikaceFn = std::int32_t (*)();
// 9: sets the library's debug level (result not examined).
using SetDebugLevelFn = std::int32_t (*)(std::uint32_t level);
// 10: stops whatever the library is doing (result not examined).
using ZastavAkciFn = std::int32_t (*)();
}

// Export names, in the order the gateway binds them.
inline constexpr const char* ExportNames[10] = {
    "NactiZmenyVeSchrance",
    "PotvrdPreneseniZmenVeSchrance",
    "RychlyTestZmenVeSchrankach",
    "NactiZmenyVeSchrankach",
    "PotvrdPreneseniZmenVeSchrankach",
    "PosliStavovouZpravu",
    "InicializaceQ9Komunikace",
    "DeInicializaceQ9Komunikace",
    "SetDebugLevel",
    "ZastavAkci",
};

} // namespace vantor::mailabi
