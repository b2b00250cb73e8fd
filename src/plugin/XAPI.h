#pragma once
// Binding of the optional call-centre plug-in (libZelkor.so).  TXAPI loads
// the library, finds its twelve entry points and, only while all were found
// and the plug-in was started, feeds it what the gateway learns about the
// exchange.  Everything the plug-in is given is a private copy, so it can
// never write into the gateway's data or read past what the exchange sent.
// The plug-in announces commands by posting XapiCommandMessage through its
// window handle; TXAPI turns that into a call of its command slot on the
// loop thread.
#include "exchange/PluginFeed.h"
#include "toolkit/SymbolSource.h"
#include "plugin/XapiAbi.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class EventLoop;
class LogWriter;

// The plug-in library as the binding sees it: named symbols (fakes in tests).
using PluginLibrary = SymbolSource;
using PluginLibraryOpener = SymbolSourceOpener;

class TXAPI : public PluginFeed {
public:
    static constexpr const char* LibraryName = "Zelkor.dll";

    // Without an opener nothing can be loaded and Start() reports "Error".
    TXAPI(LogWriter& log, EventLoop& loop, PluginLibraryOpener opener);
    ~TXAPI() override;
    TXAPI(const TXAPI&) = delete;
    TXAPI& operator=(const TXAPI&) = delete;

    // Loads and binds.  Not all twelve found: log "XAPI" "Error", inactive.
    // Otherwise log "Start", XAPI_Init(window, 33169), log "Init", active.
    // Returns Active(); the caller then resets the block counter and the
    // request queue and queues the personal-data download.
    bool Start();
    // XAPI_DeInit when active, unloads the library, logs "XAPI" "Stop".
    void Stop();

    bool Active() const override { return active_; }
    bool Loaded() const { return library_ != nullptr; }

    // Feeds; each does nothing unless active.
    void PutInfo(std::span<const std::uint8_t, 7> info) override;
    void PutLines(int portCount, std::span<const std::uint8_t, 224> portNumbers) override;
    void PutPorts(std::span<const std::uint8_t, 144> portStructure) override;
    void PutStates(int lineCount, std::span<const std::uint8_t> states) override;
    void PutCLIP(int line, std::span<const std::uint8_t> callerData) override;
    void PutFront(int lineOffset, std::span<const std::uint8_t> front) override;
    void PutAccLine(std::string_view record) override;
    void PutShorts(std::span<const std::uint8_t, 15576> shortNumbers,
                   std::span<const std::uint16_t, 960> personal) override;

    // The plug-in's user window ("Callcentrum"): the main window's left, top,
    // width and height, and the language's "number=text" lines.
    void Users(int left, int top, int width, int height, const std::vector<std::string>& texts);
    // Fetches the command announced with `message`; false when inactive.
    bool GetCommand(int message, TStates& command);

    // Called on the loop thread with the posted value when the plug-in posts
    // XapiCommandMessage (other message numbers are ignored).
    std::function<void(long lParam)> OnCommandMessage;

private:
    struct Entries {
        decltype(&XAPI_Init) Init = nullptr;
        decltype(&XAPI_DeInit) DeInit = nullptr;
        decltype(&XAPI_PutLines) PutLines = nullptr;
        decltype(&XAPI_PutInfo) PutInfo = nullptr;
        decltype(&XAPI_PutPorts) PutPorts = nullptr;
        decltype(&XAPI_PutStates) PutStates = nullptr;
        decltype(&XAPI_PutCLIP) PutCLIP = nullptr;
        decltype(&XAPI_PutFront) PutFront = nullptr;
        decltype(&XAPI_GetCommand) GetCommand = nullptr;
        decltype(&XAPI_PutAccLine) PutAccLine = nullptr;
        decltype(&XAPI_PutShorts) PutShorts = nullptr;
        decltype(&XAPI_Users) Users = nullptr;
    };
    struct Window; // the handle object given to the plug-in

    bool Bind();
    void Deliver(unsigned int message, long lParam);

    LogWriter& log_;
    EventLoop& loop_;
    PluginLibraryOpener opener_;
    std::unique_ptr<PluginLibrary> library_;
    Entries fn_;
    bool active_ = false;
    std::shared_ptr<Window> window_;
};

} // namespace vantor
