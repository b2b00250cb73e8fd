// The ten entry points of libvantorq9.so, with the names, arguments and
// calling convention the gateway binds.  The interface has no handle, so the
// library keeps one session for the process.  Every call but ZastavAkci
// holds the library's lock (the gateway calls from its loop thread only, but
// a host that did otherwise must not corrupt anything); ZastavAkci takes no
// lock, so it can stop a transfer that holds it.  No exception leaves the
// library: each becomes a status and a log line.
#include "Config.h"
#include "Logger.h"
#include "MailAbi.h"
#include "Session.h"
#include "Status.h"
#include "StopSignal.h"

#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

using namespace vantor::mailabi;
using namespace vantorq9;

namespace {

struct Library {
    std::mutex mutex;
    Logger log;
    StopSignal stop;
    std::unique_ptr<Session> session;
};

Library& Lib() {
    static Library library;
    return library;
}

template <class Call>
std::int32_t Guarded(const char* what, std::int32_t onFailure, Call call) {
    Library& lib = Lib();
    try {
        std::lock_guard lock(lib.mutex);
        return call(lib);
    } catch (const std::bad_alloc&) {
        lib.log.Error(std::string(what) + ": out of memory");
    } catch (const std::exception& e) {
        lib.log.Error(std::string(what) + ": " + e.what());
    } catch (...) {
        lib.log.Error(std::string(what) + ": unexpected failure");
    }
    return onFailure;
}

std::int32_t NotOpen(Library& lib, const char* what) {
    lib.log.Error(std::string(what) + " before InicializaceQ9Komunikace succeeded [status " +
                  std::to_string(StatusNotInitialised) + "]");
    return StatusNotInitialised;
}

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

} // namespace

#define VANTORQ9_EXPORT extern "C" __attribute__((visibility("default")))

VANTORQ9_EXPORT std::int32_t NactiZmenyVeSchrance(MailboxRecord** record, ReadParameters* params,
                                                  MailboxRecord* original) {
    if (!record) return StatusUnknownRecord;
    return Guarded("NactiZmenyVeSchrance", StatusReadFailed, [&](Library& lib) -> std::int32_t {
        *record = nullptr;
        if (!lib.session) return NotOpen(lib, "a mailbox read");
        return lib.session->ReadOne(record, original);
    });
}

VANTORQ9_EXPORT std::int32_t PotvrdPreneseniZmenVeSchrance(MailboxRecord** record) {
    if (!record) return StatusUnknownRecord;
    return Guarded("PotvrdPreneseniZmenVeSchrance", StatusUnknownRecord,
                   [&](Library& lib) -> std::int32_t {
                       return lib.session ? lib.session->ConfirmOne(record) : StatusNotInitialised;
                   });
}

VANTORQ9_EXPORT std::int32_t RychlyTestZmenVeSchrankach() {
    return Guarded("RychlyTestZmenVeSchrankach", 0, [](Library& lib) -> std::int32_t {
        return lib.session && lib.session->AnyChange() ? 1 : 0;
    });
}

VANTORQ9_EXPORT std::int32_t NactiZmenyVeSchrankach(MailboxRecord** first, ReadParameters* params) {
    if (!first) return StatusReadFailed;
    *first = nullptr;
    return Guarded("NactiZmenyVeSchrankach", StatusReadFailed, [&](Library& lib) -> std::int32_t {
        if (!lib.session) return NotOpen(lib, "a mailbox read");
        return lib.session->Read(first, params ? params->mode : ReadFull);
    });
}

VANTORQ9_EXPORT std::int32_t PotvrdPreneseniZmenVeSchrankach(MailboxRecord** first) {
    if (!first) return StatusUnknownRecord;
    return Guarded("PotvrdPreneseniZmenVeSchrankach", StatusUnknownRecord,
                   [&](Library& lib) -> std::int32_t {
                       return lib.session ? lib.session->ConfirmAll(first) : StatusNotInitialised;
                   });
}

VANTORQ9_EXPORT std::int32_t PosliStavovouZpravu(const char* address, std::int32_t addressType,
                                                 const char* subject, const char* text,
                                                 std::int32_t flag) {
    return Guarded("PosliStavovouZpravu", StatusMailFailed, [&](Library& lib) -> std::int32_t {
        if (!lib.session) return NotOpen(lib, "a message");
        // Only the low byte of each character slot counts.
        return lib.session->Send(Text(address), static_cast<char>(addressType & 0xFF),
                                 Text(subject), Text(text), flag & 0xFF);
    });
}

VANTORQ9_EXPORT std::int32_t InicializaceQ9Komunikace(const char* configPath, const char* user,
                                                      const char* workDir, const char* password) {
    return Guarded("InicializaceQ9Komunikace", StatusMailFailed, [&](Library& lib) -> std::int32_t {
        lib.session.reset();
        if (const std::string problem = lib.log.OpenIn(Text(workDir)); !problem.empty())
            lib.log.Warning("no log file (" + problem + "); logging to standard error only");
        lib.log.Notice("starting with configuration " + Printable(Text(configPath)));
        ConfigResult config = LoadConfig(Text(configPath));
        if (!config.config) {
            lib.log.Error("configuration " + Printable(config.error, 400) + " [status " +
                          std::to_string(config.status) + "]");
            return config.status;
        }
        auto session = std::make_unique<Session>(std::move(*config.config), Text(user),
                                                 Text(password), lib.log, lib.stop);
        const std::int32_t status = session->Start();
        if (status != StatusOk) {
            lib.log.Error("not started [status " + std::to_string(status) + "]");
            return status;
        }
        lib.session = std::move(session);
        lib.log.Notice("started");
        return StatusOk;
    });
}

VANTORQ9_EXPORT std::int32_t DeInicializaceQ9Komunikace() {
    return Guarded("DeInicializaceQ9Komunikace", StatusOk, [](Library& lib) -> std::int32_t {
        if (lib.session) {
            lib.session.reset();
            lib.log.Notice("closed");
        }
        lib.log.Close();
        return StatusOk;
    });
}

VANTORQ9_EXPORT std::int32_t SetDebugLevel(std::uint32_t level) {
    Lib().log.SetLevel(level);
    return StatusOk;
}

VANTORQ9_EXPORT std::int32_t ZastavAkci() {
    Library& lib = Lib();
    lib.stop.Stop();
    lib.log.Info("stop requested");
    return StatusOk;
}

// The declarations above must stay those of the public header.
static_assert(std::is_same_v<decltype(&NactiZmenyVeSchrance), NactiZmenyVeSchranceFn>);
static_assert(
    std::is_same_v<decltype(&PotvrdPreneseniZmenVeSchrance), PotvrdPreneseniZmenVeSchranceFn>);
static_assert(std::is_same_v<decltype(&RychlyTestZmenVeSchrankach), RychlyTestZmenVeSchrankachFn>);
static_assert(std::is_same_v<decltype(&NactiZmenyVeSchrankach), NactiZmenyVeSchrankachFn>);
static_assert(
    std::is_same_v<decltype(&PotvrdPreneseniZmenVeSchrankach), PotvrdPreneseniZmenVeSchrankachFn>);
static_assert(std::is_same_v<decltype(&PosliStavovouZpravu), PosliStavovouZpravuFn>);
static_assert(std::is_same_v<decltype(&InicializaceQ9Komunikace), InicializaceQ9KomunikaceFn>);
static_assert(std::is_same_v<decltype(&DeInicializaceQ9Komunikace), DeInicializaceQ9KomunikaceFn>);
static_assert(std::is_same_v<decltype(&SetDebugLevel), SetDebugLevelFn>);
static_assert(std::is_same_v<decltype(&ZastavAkci), ZastavAkciFn>);
