// A mail library that exports the first nine of the ten names (no
// "ZastavAkci"); built with VANTOR_TEST_ALL_TEN it exports all ten.  Every
// call is recorded for the test to read back.
#include "mail/MailAbi.h"

#include <string>

using namespace vantor::mailabi;

namespace {
std::string calls;
}

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

EXPORT const char* RecordedMailCalls() { return calls.c_str(); }

EXPORT std::int32_t NactiZmenyVeSchrance(MailboxRecord** record, ReadParameters*, MailboxRecord*) {
    calls += "NactiZmenyVeSchrance;";
    *record = nullptr;
    return 0;
}
EXPORT std::int32_t PotvrdPreneseniZmenVeSchrance(MailboxRecord**) {
    calls += "PotvrdPreneseniZmenVeSchrance;";
    return 0;
}
EXPORT std::int32_t RychlyTestZmenVeSchrankach() {
    calls += "RychlyTestZmenVeSchrankach;";
    return 0;
}
EXPORT std::int32_t NactiZmenyVeSchrankach(MailboxRecord** first, ReadParameters* params) {
    calls += "NactiZmenyVeSchrankach(" + std::to_string(params->mode) + ");";
    *first = nullptr;
    return 0;
}
EXPORT std::int32_t PotvrdPreneseniZmenVeSchrankach(MailboxRecord**) {
    calls += "PotvrdPreneseniZmenVeSchrankach;";
    return 0;
}
EXPORT std::int32_t PosliStavovouZpravu(const char* address, std::int32_t type, const char*,
                                        const char* text, std::int32_t) {
    calls += std::string("PosliStavovouZpravu(") + address + "," + static_cast<char>(type) + "," +
             text + ");";
    return 0;
}
EXPORT std::int32_t InicializaceQ9Komunikace(const char*, const char* user, const char*,
                                             const char*) {
    calls += std::string("InicializaceQ9Komunikace(") + user + ");";
    return 0;
}
EXPORT std::int32_t DeInicializaceQ9Komunikace() {
    calls += "DeInicializaceQ9Komunikace;";
    return 0;
}
EXPORT std::int32_t SetDebugLevel(std::uint32_t level) {
    calls += "SetDebugLevel(" + std::to_string(level) + ");";
    return 0;
}
#ifdef VANTOR_TEST_ALL_TEN
EXPORT std::int32_t ZastavAkci() {
    calls += "ZastavAkci;";
    return 0;
}
#endif
