#pragma once
// The one owner of the mail-bridge library libvantorq9.so: loads it, binds
// its ten entry points, holds the mail and trap settings, opens and closes the
// library's connection, and offers what the mailbox poll, the local traps and
// the exchange's message packets use.  Without the library (or with one that
// lacks an entry point, or whose connection failed to open) the bridge is
// unbound and every operation quietly does nothing.
#include "exchange/MailPort.h"
#include "mail/MailAbi.h"
#include "toolkit/SymbolSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor {

class LogWriter;
class TextSource;
class IniReader;
class TIniFile;
struct LogSettings;

// The mail library as the bridge sees it: named symbols (fakes in tests).
using MailLibrary = SymbolSource;
using MailLibraryOpener = SymbolSourceOpener;

// The settings block.  Texts are 8-bit and never longer than their capacity;
// the password is held plain.
struct MailSettings {
    static constexpr std::size_t TextCapacity = 100;
    static constexpr std::size_t PasswordCapacity = 20;

    std::string ConfigPath;       // [M602] CestaKeKonfiguraciMail602
    std::string User;             // [M602] Uzivatel
    std::string Password;         // [M602] Heslo (stored encoded)
    std::string WorkDir;          // [M602] CestaKPracovnimuAdresari
    std::string TrapAddress;      // [Trapy] AdresaPrijemce
    char TrapAddressType = '\0';  // [Trapy] TypAdresyPrijemce, NUL = no type
    std::string TrapSubject;      // [Trapy] Subject
    std::string ComOnMessage;     // [Trapy] ZpravaComOn (link restored)
    std::string ComOffMessage;    // [Trapy] ZpravaComOff (link lost)
    std::uint32_t DebugLevel = 0; // [M602] Debug, hexadecimal
};

// The reversible substitution applied to the stored password: by default
// EncodePassword/DecodePassword (mail/PasswordCode.h); tests may swap it.
struct PasswordCodec {
    std::function<std::string(std::string_view)> Encode;
    std::function<std::string(std::string_view)> Decode;
};

// A message the gateway has counted: kind letter and message id.
struct KnownMessage {
    char kind;
    std::uint32_t id;
};

// "%lx" of the C library: leading blanks, an optional 0x/0X, hexadecimal
// digits; anything without a hexadecimal number gives 0.
std::uint32_t ParseHexLevel(std::string_view text);

class TMailBridge final : public MailPort {
public:
    static constexpr const char* LibraryName = "vantorq9.dll";

    // log: the traffic log ("Mail" and poll lines); texts: the language texts
    // of the poll; counters: the data store's port table; settings: read for
    // the Extent log switch.  Without an opener the system loader is used
    // with the executable's folder.
    TMailBridge(LogWriter& log, TextSource& texts, MessageCounterTable& counters,
                const LogSettings& settings, MailLibraryOpener opener, std::string tempFolder);
    ~TMailBridge();
    TMailBridge(const TMailBridge&) = delete;
    TMailBridge& operator=(const TMailBridge&) = delete;

    // Loads the library and binds the ten names in order.  bound and fullRead
    // become true only when all ten were found.
    void Create();
    // Reads the settings block, in table order, the debug level last.  Always
    // fetches Text(200) and Text(299), in that order.
    void LoadSettings(const IniReader& config, TextSource& texts);
    // When bound: SetDebugLevel, then opens the connection; a non-zero status
    // unbinds the bridge for the rest of the run.  Returns Bound() afterwards
    // (the start-up logs "-OK-" text 126 or "!Err" text 127 from it).
    bool Initialise();
    // One mail poll into the port counters.  False when nothing was read
    // (unbound, or the quick test saw no change); true when a read was tried.
    bool PollMailboxes() override;
    // Kind 1 link lost, 2 link restored.  Returns true when the library took
    // the message (then a "Mail" log line was written).
    bool SendTrap(int kind) override;
    // A message of the exchange, sent by mail; the status is discarded.
    void SendStatusMessage(std::string_view address, char addressType, std::string_view subject,
                           std::string_view text, char flag) override;
    // Write section M602 (the password encoded) / section Trapy, key by key
    // in their fixed order.  A failed write is logged as "!Err" with the
    // reason and returns false.
    bool SaveMailSettings(TIniFile& config) const;
    bool SaveTrapSettings(TIniFile& config) const;
    void StopAction();
    // Closes the library connection (once).
    void Close();

    bool Bound() const override { return bound_; }
    // Why the bridge is not bound after Create or Initialise: the library
    // missing, an entry point missing, or the status the library answered.
    const std::string& FailureReason() const { return failure_; }
    bool FullRead() const { return fullRead_; }
    void SetFullRead(bool value) { fullRead_ = value; }
    bool Loaded() const { return library_ != nullptr; }
    const std::vector<KnownMessage>& KnownMessages() const { return known_; }

    MailSettings& Block() { return block_; }
    const MailSettings& Block() const { return block_; }
    void SetPasswordCodec(PasswordCodec codec);

private:
    struct EntryPoints {
        mailabi::NactiZmenyVeSchranceFn NactiZmenyVeSchrance = nullptr;
        mailabi::PotvrdPreneseniZmenVeSchranceFn PotvrdPreneseniZmenVeSchrance = nullptr;
        mailabi::RychlyTestZmenVeSchrankachFn RychlyTestZmenVeSchrankach = nullptr;
        mailabi::NactiZmenyVeSchrankachFn NactiZmenyVeSchrankach = nullptr;
        mailabi::PotvrdPreneseniZmenVeSchrankachFn PotvrdPreneseniZmenVeSchrankach = nullptr;
        mailabi::PosliStavovouZpravuFn PosliStavovouZpravu = nullptr;
        mailabi::InicializaceQ9KomunikaceFn InicializaceQ9Komunikace = nullptr;
        mailabi::DeInicializaceQ9KomunikaceFn DeInicializaceQ9Komunikace = nullptr;
        mailabi::SetDebugLevelFn SetDebugLevel = nullptr;
        mailabi::ZastavAkciFn ZastavAkci = nullptr;
    };

    // Adds up one mailbox's groups; false when a chain in it was cut short
    // (it looped or was too long).
    bool CountMailbox(const mailabi::MailboxRecord& record, std::uint32_t mode, int& sms, int& fax,
                      int& voice);

    LogWriter& log_;
    TextSource& texts_;
    MessageCounterTable& counters_;
    const LogSettings& settings_;
    MailLibraryOpener opener_;
    std::string tempFolder_; // the system's, with its trailing '/'

    std::unique_ptr<MailLibrary> library_;
    EntryPoints fn_;
    bool bound_ = false;
    std::string failure_;
    bool fullRead_ = false;
    bool open_ = false;
    std::vector<KnownMessage> known_;
    MailSettings block_;
    PasswordCodec codec_;
};

} // namespace vantor
