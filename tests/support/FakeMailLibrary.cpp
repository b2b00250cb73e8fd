#include "FakeMailLibrary.h"

namespace vantor::test {

using namespace mailabi;

MailLibraryState mailLib;

namespace {

std::int32_t Reread(MailboxRecord** record, ReadParameters* params, MailboxRecord* original) {
    mailLib.calls.push_back("NactiZmenyVeSchrance");
    mailLib.readModes.push_back(params->mode);
    auto it = mailLib.rereads.find(original);
    *record = it == mailLib.rereads.end() ? nullptr : it->second;
    return mailLib.rereadStatus;
}
std::int32_t ConfirmOne(MailboxRecord**) {
    mailLib.calls.push_back("PotvrdPreneseniZmenVeSchrance");
    return 0;
}
std::int32_t QuickTest() {
    mailLib.calls.push_back("RychlyTestZmenVeSchrankach");
    if (mailLib.onQuickTest) mailLib.onQuickTest();
    return mailLib.quickTest;
}
std::int32_t ReadAll(MailboxRecord** first, ReadParameters* params) {
    mailLib.calls.push_back("NactiZmenyVeSchrankach");
    mailLib.readModes.push_back(params->mode);
    *first = mailLib.chain;
    return mailLib.readStatus;
}
std::int32_t ConfirmAll(MailboxRecord** first) {
    mailLib.calls.push_back(*first == mailLib.chain ? "PotvrdPreneseniZmenVeSchrankach"
                                                    : "PotvrdPreneseniZmenVeSchrankach?");
    return 0;
}
std::int32_t Send(const char* address, std::int32_t type, const char* subject, const char* text,
                  std::int32_t flag) {
    mailLib.calls.push_back("PosliStavovouZpravu");
    mailLib.sent.push_back({address, subject, text, type, flag});
    return mailLib.sendStatus;
}
std::int32_t Init(const char* config, const char* user, const char* work, const char* password) {
    mailLib.calls.push_back("InicializaceQ9Komunikace");
    mailLib.initArgs = {config, user, work, password};
    return mailLib.initStatus;
}
std::int32_t DeInit() {
    mailLib.calls.push_back("DeInicializaceQ9Komunikace");
    return 0;
}
std::int32_t SetDebug(std::uint32_t level) {
    mailLib.calls.push_back("SetDebugLevel");
    mailLib.debugLevel = level;
    return 0;
}
std::int32_t Stop() {
    mailLib.calls.push_back("ZastavAkci");
    return 0;
}

} // namespace

std::map<std::string, void*> MailLibraryExports() {
    return {
        {"NactiZmenyVeSchrance",
         reinterpret_cast<void*>(static_cast<NactiZmenyVeSchranceFn>(&Reread))},
        {"PotvrdPreneseniZmenVeSchrance",
         reinterpret_cast<void*>(static_cast<PotvrdPreneseniZmenVeSchranceFn>(&ConfirmOne))},
        {"RychlyTestZmenVeSchrankach",
         reinterpret_cast<void*>(static_cast<RychlyTestZmenVeSchrankachFn>(&QuickTest))},
        {"NactiZmenyVeSchrankach",
         reinterpret_cast<void*>(static_cast<NactiZmenyVeSchrankachFn>(&ReadAll))},
        {"PotvrdPreneseniZmenVeSchrankach",
         reinterpret_cast<void*>(static_cast<PotvrdPreneseniZmenVeSchrankachFn>(&ConfirmAll))},
        {"PosliStavovouZpravu", reinterpret_cast<void*>(static_cast<PosliStavovouZpravuFn>(&Send))},
        {"InicializaceQ9Komunikace",
         reinterpret_cast<void*>(static_cast<InicializaceQ9KomunikaceFn>(&Init))},
        {"DeInicializaceQ9Komunikace",
         reinterpret_cast<void*>(static_cast<DeInicializaceQ9KomunikaceFn>(&DeInit))},
        {"SetDebugLevel", reinterpret_cast<void*>(static_cast<SetDebugLevelFn>(&SetDebug))},
        {"ZastavAkci", reinterpret_cast<void*>(static_cast<ZastavAkciFn>(&Stop))},
    };
}

SymbolSourceOpener FakeMailLibraryOpener(std::map<std::string, void*> symbols,
                                         std::vector<std::string>* requested) {
    return [symbols, requested](const std::string& name) -> std::unique_ptr<SymbolSource> {
        if (requested) requested->push_back(name);
        auto library = std::make_unique<FakeSymbols>();
        library->symbols = symbols;
        return library;
    };
}

} // namespace vantor::test
