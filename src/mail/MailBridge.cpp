#include "mail/MailBridge.h"

#include "mail/PasswordCode.h"
#include "nls/TextIds.h"
#include "toolkit/LogSettings.h"
#include "toolkit/IniFile.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_set>

namespace vantor {

namespace {

using namespace mailabi;

constexpr std::size_t MaxTempPath = 260;
// A chain handed back by the library is followed at most this far.
constexpr std::size_t MaxChainLength = 1u << 20;

// The nodes met on one chain of the library's answer.  A broken library can
// hand back a chain that loops (a next pointer back to an earlier record,
// group or item): each node is taken once, and the walk stops where the
// chain comes round again or grows past MaxChainLength, so such an answer
// costs one pass over what is really there instead of hanging the gateway.
class ChainGuard {
public:
    // False when the node was met before on this chain or the chain is too long.
    bool Enter(const void* node) {
        if (seen_.size() >= MaxChainLength || !seen_.insert(node).second) {
            broken_ = true;
            return false;
        }
        return true;
    }
    bool Broken() const { return broken_; }

private:
    std::unordered_set<const void*> seen_;
    bool broken_ = false;
};

std::string Cut(std::string text, std::size_t capacity) {
    if (text.size() > capacity) text.resize(capacity);
    return text;
}

std::string FixedText(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

// The work folder when none is configured: the system's temporary folder
// without its trailing separator, if it fits the library's path field.
std::string DefaultWorkDir(std::string temp) {
    if (temp.empty() || temp.size() > MaxTempPath) return {};
    temp.pop_back(); // the trailing separator
    return temp;
}

std::string Identity(std::string_view text) { return std::string(text); }

} // namespace

std::uint32_t ParseHexLevel(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        const unsigned digit =
            c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10);
        if (value > (UINT64_MAX >> 4)) overflow = true;
        value = value << 4 | digit;
    }
    if (overflow) value = UINT64_MAX; // as the C library saturates
    if (negative) value = ~value + 1;
    return static_cast<std::uint32_t>(value);
}

TMailBridge::TMailBridge(LogWriter& log, TextSource& texts, MessageCounterTable& counters,
                         const LogSettings& settings, MailLibraryOpener opener,
                         std::string tempFolder)
    : log_(log), texts_(texts), counters_(counters), settings_(settings),
      opener_(std::move(opener)), tempFolder_(std::move(tempFolder)),
      codec_{&EncodePassword, &DecodePassword} {}

TMailBridge::~TMailBridge() {
    // Never unload the library under an open connection.
    Close();
    known_.clear();
    bound_ = false;
    fn_ = {};
    library_.reset();
}

void TMailBridge::SetPasswordCodec(PasswordCodec codec) {
    if (!codec.Encode) codec.Encode = &Identity;
    if (!codec.Decode) codec.Decode = &Identity;
    codec_ = std::move(codec);
}

void TMailBridge::Create() {
    bound_ = false;
    failure_ = std::string("the library ") + LibraryName + " cannot be loaded";
    if (!opener_) return;
    library_ = opener_(LibraryName);
    if (!library_) return;
    void** slots[] = {
        reinterpret_cast<void**>(&fn_.NactiZmenyVeSchrance),
        reinterpret_cast<void**>(&fn_.PotvrdPreneseniZmenVeSchrance),
        reinterpret_cast<void**>(&fn_.RychlyTestZmenVeSchrankach),
        reinterpret_cast<void**>(&fn_.NactiZmenyVeSchrankach),
        reinterpret_cast<void**>(&fn_.PotvrdPreneseniZmenVeSchrankach),
        reinterpret_cast<void**>(&fn_.PosliStavovouZpravu),
        reinterpret_cast<void**>(&fn_.InicializaceQ9Komunikace),
        reinterpret_cast<void**>(&fn_.DeInicializaceQ9Komunikace),
        reinterpret_cast<void**>(&fn_.SetDebugLevel),
        reinterpret_cast<void**>(&fn_.ZastavAkci),
    };
    static_assert(std::size(slots) == std::size(ExportNames));
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        void* address = library_->Symbol(ExportNames[i]);
        if (address == nullptr) {
            fn_ = {}; // stays loaded, unbound
            failure_ =
                std::string("the library ") + LibraryName + " has no entry point " + ExportNames[i];
            return;
        }
        *slots[i] = address;
    }
    fullRead_ = true;
    known_.clear();
    bound_ = true;
    failure_.clear();
}

void TMailBridge::LoadSettings(const IniReader& config, TextSource& texts) {
    const std::size_t cap = MailSettings::TextCapacity;
    block_.ConfigPath = Cut(config.ReadString("M602", "CestaKeKonfiguraciMail602", ""), cap);
    block_.User = Cut(config.ReadString("M602", "Uzivatel", ""), cap);
    block_.Password =
        Cut(codec_.Decode(config.ReadString("M602", "Heslo", "")), MailSettings::PasswordCapacity);
    block_.WorkDir = Cut(
        config.ReadString("M602", "CestaKPracovnimuAdresari", DefaultWorkDir(tempFolder_)), cap);
    block_.TrapAddress = Cut(config.ReadString("Trapy", "AdresaPrijemce", ""), cap);
    const std::string type = config.ReadString("Trapy", "TypAdresyPrijemce", "");
    block_.TrapAddressType = type.empty() ? '\0' : type.front();
    block_.TrapSubject = Cut(config.ReadString("Trapy", "Subject", ""), cap);
    // Both texts are always fetched, 200 first: the language file is opened
    // by the first and closed by the second.
    const std::string comOn = texts.Text(txt::TrapLinkRestored);
    block_.ComOnMessage = Cut(config.ReadString("Trapy", "ZpravaComOn", comOn), cap);
    const std::string comOff = texts.Text(txt::TrapLinkLost);
    block_.ComOffMessage = Cut(config.ReadString("Trapy", "ZpravaComOff", comOff), cap);
    block_.DebugLevel = ParseHexLevel(config.ReadString("M602", "Debug", "0"));
}

bool TMailBridge::Initialise() {
    if (!bound_) return false;
    fn_.SetDebugLevel(block_.DebugLevel);
    const std::int32_t status =
        fn_.InicializaceQ9Komunikace(block_.ConfigPath.c_str(), block_.User.c_str(),
                                     block_.WorkDir.c_str(), block_.Password.c_str());
    if (status != 0) {
        bound_ = false;
        failure_ = "InicializaceQ9Komunikace answered status " + std::to_string(status);
        if (block_.ConfigPath.empty())
            failure_ += ", and no configuration file is named ([M602] CestaKeKonfiguraciMail602)";
        failure_ += "; the library's own log tells more";
        return false;
    }
    open_ = true;
    return true;
}

void TMailBridge::Close() {
    if (bound_ && open_) fn_.DeInicializaceQ9Komunikace();
    open_ = false;
}

void TMailBridge::StopAction() {
    if (bound_) fn_.ZastavAkci();
}

void TMailBridge::SendStatusMessage(std::string_view address, char addressType,
                                    std::string_view subject, std::string_view text, char flag) {
    if (!bound_) return;
    const std::string a(address), s(subject), t(text);
    fn_.PosliStavovouZpravu(a.c_str(), static_cast<unsigned char>(addressType), s.c_str(),
                            t.c_str(), static_cast<unsigned char>(flag));
}

bool TMailBridge::SendTrap(int kind) {
    if (!bound_ || (kind != TrapLinkLost && kind != TrapLinkRestored)) return false;
    const std::string& message = kind == TrapLinkLost ? block_.ComOffMessage : block_.ComOnMessage;
    if (message.empty()) return false; // an empty message switches that trap off
    const std::int32_t status = fn_.PosliStavovouZpravu(
        block_.TrapAddress.c_str(), static_cast<unsigned char>(block_.TrapAddressType),
        block_.TrapSubject.c_str(), message.c_str(), 1);
    if (status != 0) return false;
    log_.WriteLog("Mail", block_.TrapAddress + " > " + message);
    return true;
}

bool TMailBridge::SaveMailSettings(TIniFile& config) const {
    try {
        config.WriteString("M602", "CestaKeKonfiguraciMail602", block_.ConfigPath);
        config.WriteString("M602", "CestaKPracovnimuAdresari", block_.WorkDir);
        config.WriteString("M602", "Uzivatel", block_.User);
        config.WriteString("M602", "Heslo", codec_.Encode(block_.Password));
        return true;
    } catch (const EIniFileError& e) {
        log_.WriteLog("!Err", e.what());
        return false;
    }
}

bool TMailBridge::SaveTrapSettings(TIniFile& config) const {
    try {
        config.WriteString("Trapy", "AdresaPrijemce", block_.TrapAddress);
        config.WriteString("Trapy", "TypAdresyPrijemce",
                           block_.TrapAddressType == '\0' ? std::string()
                                                          : std::string(1, block_.TrapAddressType));
        config.WriteString("Trapy", "Subject", block_.TrapSubject);
        config.WriteString("Trapy", "ZpravaComOn", block_.ComOnMessage);
        config.WriteString("Trapy", "ZpravaComOff", block_.ComOffMessage);
        return true;
    } catch (const EIniFileError& e) {
        log_.WriteLog("!Err", e.what());
        return false;
    }
}

// ---------------------------------------------------------------- mailbox poll

bool TMailBridge::CountMailbox(const MailboxRecord& record, std::uint32_t mode, int& sms, int& fax,
                               int& voice) {
    bool intact = true;
    ChainGuard groups;
    for (const MessageGroup* group = record.firstGroup; group != nullptr && groups.Enter(group);
         group = group->next) {
        char kind = group->kind;
        int delta = 0;
        ChainGuard items;
        if (mode == ReadChanges) {
            for (const MessageItem* item = group->firstItem; item != nullptr && items.Enter(item);
                 item = item->next) {
                const std::uint32_t id = item->id;
                if ((item->flags & 6u) != 0) {
                    // Removed: only a message counted before is taken off,
                    // under the kind it was counted as.
                    auto known = std::find_if(known_.begin(), known_.end(),
                                              [id](const KnownMessage& m) { return m.id == id; });
                    if (known != known_.end()) {
                        kind = known->kind;
                        known_.erase(known);
                        --delta;
                    }
                } else {
                    ++delta;
                    known_.push_back({kind, id});
                }
            }
        } else {
            delta = group->count;
            for (const MessageItem* item = group->firstItem; item != nullptr && items.Enter(item);
                 item = item->next)
                known_.push_back({kind, item->id});
        }
        intact = intact && !items.Broken();
        if (kind == 'F')
            fax += delta;
        else if (kind == 'H')
            voice += delta;
        else
            sms += delta;
    }
    return intact && !groups.Broken();
}

bool TMailBridge::PollMailboxes() {
    if (!bound_) return false;
    // Fetched in this order: 300 opens the language file, 399 closes it.
    const std::string rereadNotice = texts_.Text(txt::MailboxReread);
    const std::string mailboxError = texts_.Text(txt::MailboxReadFailed);
    const std::string readError = texts_.Text(txt::MailboxesReadFailed);

    std::uint32_t mode = ReadFull;
    if (!fullRead_) {
        if (fn_.RychlyTestZmenVeSchrankach() == 0) return false;
        mode = ReadChanges;
    }

    ReadParameters params{};
    params.mode = mode;
    MailboxRecord* first = nullptr;
    const std::int32_t status = fn_.NactiZmenyVeSchrankach(&first, &params);
    if (status != 0) {
        log_.WriteLog("!Err", readError + std::to_string(status));
        fullRead_ = true;
        return true;
    }

    if (mode == ReadFull) counters_.ClearCounters();

    ChainGuard records;
    bool intact = true;
    for (MailboxRecord* record = first; record != nullptr && records.Enter(record);
         record = record->next) {
        // Each mailbox starts clean: the confirmation of an earlier re-read
        // mailbox does not make the following ones count as failed.
        std::int32_t latest = 0;
        MailboxRecord* current = record;
        const bool reread = record->status == StatusRereadMailbox;
        if (reread) {
            if (settings_.Extent) log_.WriteLog("!Err", rereadNotice);
            params.mode = ReadFull;
            latest = fn_.NactiZmenyVeSchrance(&current, &params, record);
        }

        if (current == nullptr || latest != 0) {
            // The counters of a mailbox that could not be read are left as
            // they were in the table rather than cleared on a guess.
            log_.WriteLog("!Err", mailboxError + std::to_string(latest));
        } else {
            int sms = 0, fax = 0, voice = 0;
            intact = CountMailbox(*current, mode, sms, fax, voice) && intact;
            const std::string telephone = FixedText(current->telephone, sizeof current->telephone);
            if (settings_.Extent)
                log_.WriteLog("Name:" + FixedText(current->name, sizeof current->name),
                              "Tel:" + telephone + " sms:" + std::to_string(sms) +
                                  ",fax:" + std::to_string(fax) + ",hlas:" + std::to_string(voice));
            const auto s = static_cast<std::uint8_t>(sms);
            const auto f = static_cast<std::uint8_t>(fax);
            const auto v = static_cast<std::uint8_t>(voice);
            if (mode == ReadFull || reread)
                counters_.SetCounters(telephone, s, f, v, 0);
            else
                counters_.AddCounters(telephone, s, f, v, 0);
        }

        if (reread) {
            fn_.PotvrdPreneseniZmenVeSchrance(&current);
            params.mode = mode;
        }
    }

    if (!intact || records.Broken())
        log_.WriteLog("!Err", "The mail library's list of mailboxes loops back on itself or is "
                              "too long; each entry was counted once");

    MailboxRecord* confirmed = first;
    fn_.PotvrdPreneseniZmenVeSchrankach(&confirmed);
    fullRead_ = false;
    return true;
}

} // namespace vantor
