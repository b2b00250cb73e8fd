// A sample call-centre plug-in for the Tarvo Vantor gateway, built against
// the public plug-in header only.  It shows the two directions a plug-in has:
//
//  - Every feed the gateway hands over (exchange info, port numbers, port
//    structure, line states, caller data, queue, short numbers, accounting
//    lines) becomes one readable, time-stamped line in a feed file.
//  - Commands a technician writes, one per line, into a command FIFO (or a
//    plain file that is appended to) are posted to the gateway as message
//    33169; the gateway then fetches each one with XAPI_GetCommand and sends
//    it to the exchange.
//
// Files (beside the library unless the environment names others):
//   xapi-feed.log   VANTOR_XAPI_FEED      the feed lines, appended
//   xapi-commands   VANTOR_XAPI_COMMANDS  a FIFO, created when missing (on
//                                         Windows a plain file, created empty)
//
// Commands ("PORT" is the exchange port, 0 to 255):
//   dial PORT NUMBER        dial NUMBER (digits * # and the exchange's dial
//                           letters F , S A B C D T W - ? P), up to 48
//   speaker PORT            speaker on/off
//   mic PORT                microphone on/off
//   volume-up PORT, volume-down PORT
//   transfer PORT
//   park PORT               park on/off
//   hold PORT N             take held call N
//   queue PORT N            take call N from the queue
// Empty lines and lines starting with '#' are ignored; anything else that is
// not a command gets an "ERROR" line in the feed file.
//
// Threads: the gateway calls every entry point on its one loop thread; the
// command reader runs on a thread of its own and only posts messages, which
// the header allows from any thread.
#include "plugin/XapiAbi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view DialCharacters = "1234567890*#F,SABCDTW-?P";
constexpr std::size_t MaxDialLength = 48;
constexpr std::size_t MaxCommandLine = 4096;

// ------------------------------------------------------------ text helpers

std::string Hex(const unsigned char* data, std::size_t size) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (i) out += ' ';
        out += Digits[data[i] >> 4];
        out += Digits[data[i] & 15];
    }
    return out;
}

// Printable ASCII as it is, everything else as \xNN, so one feed is one line.
std::string Printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::optional<unsigned> ParseByte(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value > 255) return std::nullopt;
    return value;
}

// ---------------------------------------------------------------- feed file

// Appends time-stamped lines; safe from both threads.
class FeedLog {
public:
    explicit FeedLog(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {}
    ~FeedLog() {
        if (file_) std::fclose(file_);
    }
    FeedLog(const FeedLog&) = delete;
    FeedLog& operator=(const FeedLog&) = delete;

    bool Open() const { return file_ != nullptr; }

    void Line(const std::string& text) {
        if (!file_) return;
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &seconds);
#else
        localtime_r(&seconds, &local);
#endif
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                      local.tm_sec, static_cast<int>(millis));
        std::lock_guard<std::mutex> lock(mutex_);
        std::fputs(stamp, file_);
        std::fputs(text.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_); // a technician follows it with tail -f
    }

private:
    std::mutex mutex_;
    std::FILE* file_;
};

// ------------------------------------------------------------ command parser

struct Parsed {
    std::optional<TStates> command;
    std::string description; // for the feed line
};

Parsed ParseCommand(const std::string& line) {
    std::istringstream in(line);
    std::string word, portText, arg, extra;
    in >> word >> portText >> arg >> extra;
    struct PortCommand {
        const char* word;
        unsigned char kind;
        bool takesByte;
    };
    static constexpr PortCommand Table[] = {
        {"speaker", 0, false},     {"mic", 1, false},  {"volume-up", 2, false},
        {"volume-down", 3, false}, {"queue", 5, true}, {"transfer", 7, false},
        {"hold", 8, true},         {"park", 9, false},
    };
    const std::optional<unsigned> port = ParseByte(portText);
    const bool known =
        word == "dial" || std::any_of(std::begin(Table), std::end(Table),
                                      [&](const PortCommand& e) { return word == e.word; });
    if (!known) return {std::nullopt, "unknown command: " + Printable(line)};
    if (!port) return {std::nullopt, word + ": the port must be a number from 0 to 255"};
    if (word == "dial") {
        if (arg.empty() || !extra.empty()) return {std::nullopt, "usage: dial PORT NUMBER"};
        if (arg.size() > MaxDialLength)
            return {std::nullopt, "dial number longer than " + std::to_string(MaxDialLength)};
        if (arg.find_first_not_of(DialCharacters) != std::string::npos)
            return {std::nullopt,
                    "dial number with a character the exchange cannot dial: " + Printable(arg)};
        TStates command{};
        command.Kind = 4;
        command.Port = *port;
        std::memcpy(command.Data, arg.data(), arg.size());
        return {command, "dial port=" + std::to_string(*port) + " number=" + arg};
    }
    for (const PortCommand& entry : Table) {
        if (word != entry.word) continue;
        const std::optional<unsigned> value = entry.takesByte ? ParseByte(arg) : std::nullopt;
        const bool argsOk = entry.takesByte ? (value && extra.empty()) : arg.empty();
        if (!argsOk)
            return {std::nullopt,
                    std::string("usage: ") + entry.word + " PORT" + (entry.takesByte ? " N" : "")};
        TStates command{};
        command.Kind = entry.kind;
        command.Port = *port;
        if (value) command.Data[0] = static_cast<unsigned char>(*value);
        return {command, std::string(entry.word) + " port=" + std::to_string(*port) +
                             (value ? " n=" + std::to_string(*value) : "")};
    }
    return {std::nullopt, "unknown command: " + Printable(line)};
}

// ------------------------------------------------------------------ plug-in

#ifdef _WIN32
std::string LibraryFolder() {
    HMODULE self = nullptr;
    char path[MAX_PATH] = {};
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&XAPI_Init), &self) ||
        GetModuleFileNameA(self, path, MAX_PATH) == 0)
        return ".";
    const std::string file = path;
    const std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? "." : file.substr(0, slash);
}
#else
std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&XAPI_Init), &info) == 0 || info.dli_fname == nullptr)
        return ".";
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}
#endif

std::string FromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

class Plugin {
public:
    Plugin(void* window, unsigned int message)
        : window_(window), message_(message),
          feedPath_(FromEnvironment("VANTOR_XAPI_FEED", LibraryFolder() + "/xapi-feed.log")),
          feed_(feedPath_), commandPath_(FromEnvironment("VANTOR_XAPI_COMMANDS",
                                                         LibraryFolder() + "/xapi-commands")) {
        // The gateway's standard error ends up in its journal.
        if (!feed_.Open())
            std::fprintf(stderr, "sample plug-in: cannot write its feed file %s\n",
                         feedPath_.c_str());
        feed_.Line("INIT message=" + std::to_string(message) + " commands=" + commandPath_);
#ifdef _WIN32
        if (OpenCommandFile()) reader_ = std::thread([this] { ReadCommandFile(); });
#else
        if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
            feed_.Line("ERROR cannot start the command reader: " +
                       std::string(std::strerror(errno)));
            return;
        }
        if (OpenCommands()) reader_ = std::thread([this] { ReadCommands(); });
#endif
    }

    ~Plugin() {
        stopping_ = true;
#ifdef _WIN32
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopSignal_.notify_all();
        }
        if (reader_.joinable()) reader_.join();
#else
        if (stopPipe_[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &byte, 1);
        }
        if (reader_.joinable()) reader_.join();
        for (int fd : {commandFd_, stopPipe_[0], stopPipe_[1]})
            if (fd >= 0) ::close(fd);
        if (createdFifo_) ::unlink(commandPath_.c_str());
#endif
        feed_.Line("DEINIT");
    }

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    FeedLog& Feed() { return feed_; }

    // The gateway asks for the command announced with `id`.
    void Fetch(int id, TStates* command) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pending_.find(id);
        if (it == pending_.end()) {
            // The record stays as the gateway gave it, so nothing is sent.
            feed_.Line("ERROR the gateway asked for unknown command #" + std::to_string(id));
            return;
        }
        *command = it->second;
        pending_.erase(it);
        feed_.Line("FETCHED #" + std::to_string(id));
    }

private:
#ifdef _WIN32
    // Windows has no FIFOs: the commands are lines appended to a plain file
    // (echo dial 1 123 >> xapi-commands), looked at every 200 ms.
    bool OpenCommandFile() {
        std::error_code ec;
        if (!std::filesystem::exists(commandPath_, ec)) std::ofstream(commandPath_).flush();
        if (!std::filesystem::is_regular_file(commandPath_, ec)) {
            feed_.Line("ERROR cannot create the command file " + commandPath_);
            return false;
        }
        fileOffset_ = std::filesystem::file_size(commandPath_, ec);
        return true;
    }

    void ReadCommandFile() {
        std::string pending;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopSignal_.wait_for(lock, std::chrono::milliseconds(200),
                                     [this] { return stopping_.load(); })) {
            lock.unlock();
            std::error_code ec;
            const std::uintmax_t size = std::filesystem::file_size(commandPath_, ec);
            if (!ec && size < fileOffset_) fileOffset_ = 0; // the file was emptied
            if (!ec && size > fileOffset_) {
                std::ifstream in(commandPath_, std::ios::binary);
                in.seekg(static_cast<std::streamoff>(fileOffset_));
                std::string bytes(static_cast<std::size_t>(size - fileOffset_), '\0');
                in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                bytes.resize(static_cast<std::size_t>(in.gcount()));
                fileOffset_ += bytes.size();
                HandleLines(pending, bytes);
            }
            lock.lock();
        }
    }
#else
    bool OpenCommands() {
        struct stat st {};
        if (::stat(commandPath_.c_str(), &st) != 0) {
            if (errno != ENOENT || ::mkfifo(commandPath_.c_str(), 0660) != 0) {
                feed_.Line("ERROR cannot create the command FIFO " + commandPath_ + ": " +
                           std::strerror(errno));
                return false;
            }
            createdFifo_ = true;
            st.st_mode = S_IFIFO;
        }
        isFifo_ = S_ISFIFO(st.st_mode);
        if (!isFifo_ && !S_ISREG(st.st_mode)) {
            feed_.Line("ERROR the command path is neither a FIFO nor a file: " + commandPath_);
            return false;
        }
        // A FIFO opened for reading and writing never reports end-of-file when
        // a writer goes away, so the reader does not spin between writers.
        commandFd_ =
            ::open(commandPath_.c_str(), (isFifo_ ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        if (commandFd_ < 0) {
            feed_.Line("ERROR cannot open " + commandPath_ + ": " + std::strerror(errno));
            return false;
        }
        // A plain file: only lines appended from now on are commands.
        if (!isFifo_) offset_ = ::lseek(commandFd_, 0, SEEK_END);
        return true;
    }

    void ReadCommands() {
        std::string pending;
        while (!stopping_) {
            pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {commandFd_, POLLIN, 0}};
            // A plain file is never "ready" in poll's sense: look every 200 ms.
            const int ready = ::poll(fds, isFifo_ ? 2 : 1, isFifo_ ? -1 : 200);
            if (stopping_ || (ready > 0 && (fds[0].revents & POLLIN))) break;
            if (ready < 0 && errno != EINTR) {
                feed_.Line("ERROR waiting for commands: " + std::string(std::strerror(errno)));
                break;
            }
            if (isFifo_ && (fds[1].revents & (POLLERR | POLLNVAL))) {
                feed_.Line("ERROR the command FIFO failed; no more commands are read");
                break;
            }
            char buffer[1024];
            for (;;) {
                ssize_t n;
                if (isFifo_) {
                    n = ::read(commandFd_, buffer, sizeof buffer);
                } else {
                    struct stat st {};
                    if (::fstat(commandFd_, &st) == 0 && st.st_size < offset_) offset_ = 0;
                    n = ::pread(commandFd_, buffer, sizeof buffer, offset_);
                    if (n > 0) offset_ += n;
                }
                if (n <= 0) break;
                HandleLines(pending, std::string_view(buffer, static_cast<std::size_t>(n)));
            }
        }
    }
#endif

    // Handles each whole line of what was read; a line that grows past the
    // limit without its end is dropped rather than kept without bound.
    void HandleLines(std::string& pending, std::string_view read) {
        pending += read;
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            Handle(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        if (pending.size() > MaxCommandLine) {
            feed_.Line("ERROR command line longer than " + std::to_string(MaxCommandLine) +
                       " bytes dropped");
            pending.clear();
        }
    }

    void Handle(const std::string& raw) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') return;
        Parsed parsed = ParseCommand(line);
        if (!parsed.command) {
            feed_.Line("ERROR " + parsed.description);
            return;
        }
        long id;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            id = ++lastId_;
            pending_[static_cast<int>(id)] = *parsed.command;
        }
        feed_.Line("COMMAND #" + std::to_string(id) + " " + parsed.description);
        XapiPostMessage(window_, message_, id);
    }

    void* window_;
    unsigned int message_;
    std::string feedPath_;
    FeedLog feed_;
    std::string commandPath_;
#ifdef _WIN32
    std::uintmax_t fileOffset_ = 0;
    std::condition_variable stopSignal_;
#else
    int stopPipe_[2] = {-1, -1};
    int commandFd_ = -1;
    bool isFifo_ = false;
    bool createdFifo_ = false;
    off_t offset_ = 0;
#endif
    std::atomic<bool> stopping_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::map<int, TStates> pending_;
    long lastId_ = 0;
};

// Freed by XAPI_DeInit, or at the latest when the library is unloaded.
std::unique_ptr<Plugin> plugin;

void Feed(const std::string& line) {
    if (plugin) plugin->Feed().Line(line);
}

} // namespace

// ------------------------------------------------------------- entry points

void XAPI_Init(void* window, unsigned int message) {
    plugin.reset();
    plugin = std::make_unique<Plugin>(window, message);
}

void XAPI_DeInit() { plugin.reset(); }

void XAPI_PutLines(int portCount, char* portNumbers) {
    std::string line = "LINES " + std::to_string(portCount) + ":";
    for (int i = 0; i < portCount && i < 56; ++i) {
        const char* number = portNumbers + 4 * i;
        line += ' ' + Printable(std::string_view(number, strnlen(number, 4)));
    }
    Feed(line);
}

void XAPI_PutInfo(TInfo* info) {
    Feed("INFO " + Hex(info->Data, sizeof info->Data) + " line-offset=" +
         std::to_string(info->Data[2]) + " personal-blocks=" + std::to_string(info->Data[3]));
}

void XAPI_PutPorts(TPortStruct* ports) {
    std::size_t used = sizeof ports->Data;
    while (used > 0 && ports->Data[used - 1] == 0) --used;
    Feed("PORTS " + Hex(ports->Data, used));
}

void XAPI_PutStates(int lineCount, TStavLinek* lines) {
    std::string line = "STATES " + std::to_string(lineCount) + ":";
    for (int i = 0; i < lineCount; ++i) {
        char item[48];
        std::snprintf(item, sizeof item, " %d=state %u flags %02X", i, lines[i].State,
                      lines[i].Flags);
        line += item;
    }
    Feed(line);
}

void XAPI_PutCLIP(int lineNumber, char* callerData) {
    // Caller number, NUL, caller name, NUL (the buffer is NUL-padded).
    const std::string_view number(callerData, strnlen(callerData, 256));
    const char* nameStart = callerData + number.size() + 1;
    const std::string_view name(nameStart, strnlen(nameStart, 256));
    Feed("CLIP line=" + std::to_string(lineNumber) + " number=\"" + Printable(number) +
         "\" name=\"" + Printable(name) + "\"");
}

void XAPI_PutFront(int lineOffset, TFront* front) {
    // A count, then line and waiting seconds for each call in the queue.
    const unsigned count = front->Data[0];
    std::string line =
        "QUEUE line-offset=" + std::to_string(lineOffset) + " waiting=" + std::to_string(count);
    for (unsigned i = 0; i < count && 2 + 2 * i < sizeof front->Data; ++i)
        line += " line " + std::to_string(front->Data[1 + 2 * i]) + " for " +
                std::to_string(front->Data[2 + 2 * i]) + "s";
    Feed(line);
}

void XAPI_GetCommand(int message, TStates* command) {
    if (plugin) plugin->Fetch(message, command);
}

void XAPI_PutAccLine(char* record) {
    std::string_view text(record);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    Feed("ACCOUNTING " + Printable(text));
}

void XAPI_PutShorts(unsigned char* shortNumbers, unsigned short (*personal)[20]) {
    constexpr std::size_t MemoryBytes = 15576, Entries = 48;
    std::size_t bytesUsed = 0, entriesUsed = 0;
    for (std::size_t i = 0; i < MemoryBytes; ++i)
        if (shortNumbers[i] != 0xFF && shortNumbers[i] != 0) ++bytesUsed;
    for (std::size_t e = 0; e < Entries; ++e)
        for (unsigned short word : personal[e])
            if (word != 0xFFFF && word != 0) {
                ++entriesUsed;
                break;
            }
    Feed("SHORTS personal entries in use " + std::to_string(entriesUsed) + " of " +
         std::to_string(Entries) + ", short-number memory bytes in use " +
         std::to_string(bytesUsed) + " of " + std::to_string(MemoryBytes));
}

void XAPI_Users(Windows::TRect rect, Classes::TStringList* texts) {
    Feed("USERS window left=" + std::to_string(rect.Left) + " top=" + std::to_string(rect.Top) +
         " width=" + std::to_string(rect.Right) + " height=" + std::to_string(rect.Bottom) +
         " texts=" + std::to_string(texts ? texts->Count : 0));
}
