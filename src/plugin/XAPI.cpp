#include "plugin/XAPI.h"

#include "toolkit/EventLoop.h"
#include "toolkit/LogWriter.h"

#include <algorithm>
#include <cstring>

namespace vantor {

// The handle object the plug-in gets.  Posting may come from any of the
// plug-in's threads; the message is carried to the loop thread, where it is
// delivered only if the binding still exists.
struct TXAPI::Window : std::enable_shared_from_this<TXAPI::Window> {
    Window(TXAPI& owner, EventLoop& loop) : owner(owner), loop(loop) {
        handle.Post = &Window::Post;
        handle.Gateway = this;
    }

    static void Post(XapiWindow* self, unsigned int message, long lParam) {
        if (self == nullptr || self->Gateway == nullptr) return;
        auto* window = static_cast<Window*>(self->Gateway);
        std::weak_ptr<Window> weak = window->weak_from_this();
        window->loop.post([weak, message, lParam] {
            if (auto alive = weak.lock()) alive->owner.Deliver(message, lParam);
        });
    }

    XapiWindow handle{};
    TXAPI& owner;
    EventLoop& loop;
};

TXAPI::TXAPI(LogWriter& log, EventLoop& loop, PluginLibraryOpener opener)
    : log_(log), loop_(loop), opener_(std::move(opener)),
      window_(std::make_shared<Window>(*this, loop)) {}

TXAPI::~TXAPI() {
    // The library must not outlive the binding: a plug-in left running would
    // call into a gateway that is gone.
    if (active_ && fn_.DeInit) fn_.DeInit();
    active_ = false;
    library_.reset();
}

bool TXAPI::Bind() {
    // Looked up in table order; the first missing name ends the search.
    void** slots[] = {
        reinterpret_cast<void**>(&fn_.Init),       reinterpret_cast<void**>(&fn_.DeInit),
        reinterpret_cast<void**>(&fn_.PutLines),   reinterpret_cast<void**>(&fn_.PutInfo),
        reinterpret_cast<void**>(&fn_.PutPorts),   reinterpret_cast<void**>(&fn_.PutStates),
        reinterpret_cast<void**>(&fn_.PutCLIP),    reinterpret_cast<void**>(&fn_.PutFront),
        reinterpret_cast<void**>(&fn_.GetCommand), reinterpret_cast<void**>(&fn_.PutAccLine),
        reinterpret_cast<void**>(&fn_.PutShorts),  reinterpret_cast<void**>(&fn_.Users),
    };
    static_assert(std::size(slots) == std::size(XapiEntryNames));
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        void* address = library_->Symbol(XapiEntryNames[i]);
        if (address == nullptr) return false;
        *slots[i] = address;
    }
    return true;
}

bool TXAPI::Start() {
    if (active_) return true;
    fn_ = {};
    if (!library_ && opener_) library_ = opener_(LibraryName);
    if (!library_ || !Bind()) {
        fn_ = {};
        log_.WriteLog(labels::Plugin, "Error");
        return false;
    }
    log_.WriteLog(labels::Plugin, "Start");
    fn_.Init(&window_->handle, XapiCommandMessage);
    log_.WriteLog(labels::Plugin, "Init");
    active_ = true;
    return true;
}

void TXAPI::Stop() {
    if (active_ && fn_.DeInit) fn_.DeInit();
    active_ = false;
    fn_ = {};
    library_.reset();
    log_.WriteLog(labels::Plugin, "Stop");
}

void TXAPI::Deliver(unsigned int message, long lParam) {
    if (message != XapiCommandMessage || !active_) return;
    if (OnCommandMessage) OnCommandMessage(lParam);
}

void TXAPI::PutInfo(std::span<const std::uint8_t, 7> info) {
    if (!active_) return;
    TInfo copy{};
    std::memcpy(copy.Data, info.data(), sizeof copy.Data);
    fn_.PutInfo(&copy);
}

void TXAPI::PutLines(int portCount, std::span<const std::uint8_t, 224> portNumbers) {
    if (!active_) return;
    std::array<char, 224> copy{};
    std::memcpy(copy.data(), portNumbers.data(), copy.size());
    fn_.PutLines(std::clamp(portCount, 0, 56), copy.data());
}

void TXAPI::PutPorts(std::span<const std::uint8_t, 144> portStructure) {
    if (!active_) return;
    TPortStruct copy{};
    std::memcpy(copy.Data, portStructure.data(), sizeof copy.Data);
    fn_.PutPorts(&copy);
}

void TXAPI::PutStates(int lineCount, std::span<const std::uint8_t> states) {
    if (!active_) return;
    const std::size_t count = std::min<std::size_t>(std::max(lineCount, 0), states.size() / 4);
    std::vector<TStavLinek> copy(std::max<std::size_t>(count, 1));
    if (count > 0) std::memcpy(copy.data(), states.data(), 4 * count);
    fn_.PutStates(static_cast<int>(count), copy.data());
}

void TXAPI::PutCLIP(int line, std::span<const std::uint8_t> callerData) {
    if (!active_) return;
    std::array<char, 512> copy{}; // zero-padded, always NUL-terminated
    std::memcpy(copy.data(), callerData.data(), std::min(callerData.size(), copy.size() - 1));
    fn_.PutCLIP(line, copy.data());
}

void TXAPI::PutFront(int lineOffset, std::span<const std::uint8_t> front) {
    if (!active_) return;
    TFront copy{};
    std::memcpy(copy.Data, front.data(), std::min(front.size(), sizeof copy.Data));
    fn_.PutFront(lineOffset, &copy);
}

void TXAPI::PutAccLine(std::string_view record) {
    if (!active_) return;
    std::string copy(record);
    fn_.PutAccLine(copy.data());
}

void TXAPI::PutShorts(std::span<const std::uint8_t, 15576> shortNumbers,
                      std::span<const std::uint16_t, 960> personal) {
    if (!active_) return;
    std::vector<unsigned char> shorts(shortNumbers.begin(), shortNumbers.end());
    std::vector<unsigned short> words(personal.begin(), personal.end());
    fn_.PutShorts(shorts.data(), reinterpret_cast<unsigned short(*)[20]>(words.data()));
}

void TXAPI::Users(int left, int top, int width, int height, const std::vector<std::string>& texts) {
    if (!active_) return;
    std::vector<const char*> lines;
    lines.reserve(texts.size());
    for (const std::string& text : texts) lines.push_back(text.c_str());
    Classes::TStringList list{static_cast<int>(lines.size()), lines.data()};
    fn_.Users(Windows::TRect{left, top, width, height}, &list);
}

bool TXAPI::GetCommand(int message, TStates& command) {
    if (!active_) return false;
    // A kind no command has: a plug-in that fills nothing causes nothing.
    command = TStates{};
    command.Kind = 0xFF;
    fn_.GetCommand(message, &command);
    return true;
}

} // namespace vantor
