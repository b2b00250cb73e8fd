// vantor-client: a technician's command-line client for the gateway's TCP
// relay.  Sends one exchange request (its payload, typed as hex bytes) and
// prints the reply as hex and as the gateway's own log text; can repeat a
// query at an interval, or read the accounting records the gateway keeps.
//
// The relay's stream has no framing: one write is one request, and the reply
// is whatever arrives for it.  The client therefore takes the reply to be the
// bytes that arrive until the line has been quiet for a short moment.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VantorVersion.h"
#include "exchange/CommandFormatter.h"
#include "platform/Paths.h"
#include "relay/RelayClientText.h"
#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"
#include "toolkit/TextSource.h"

using namespace vantor;

namespace {

constexpr int ExitUsage = 64;
constexpr int ExitConnect = 2;
constexpr int ExitTimeout = 3;
constexpr int ExitClosed = 4;

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

// The few socket calls that differ between Winsock and POSIX.
#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket NoSocket = INVALID_SOCKET;
int SocketError() { return ::WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
std::string SocketErrorText(int error) {
    std::string text = SystemErrorMessage(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}
constexpr int RefusedError = WSAECONNREFUSED;
constexpr int SendFlags = 0;
void CloseSocket(Socket s) { ::closesocket(s); }
Socket NonBlockingSocket(int family, int type) {
    Socket s = ::socket(family, type, 0);
    u_long on = 1;
    if (s != NoSocket) ::ioctlsocket(s, FIONBIO, &on);
    return s;
}
int WaitFor(Socket s, short events, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = s;
    p.events = events;
    return ::WSAPoll(&p, 1, timeoutMs);
}
#else
using Socket = int;
constexpr Socket NoSocket = -1;
int SocketError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EINTR || error == EINPROGRESS; }
std::string SocketErrorText(int error) { return std::strerror(error); }
constexpr int RefusedError = ECONNREFUSED;
constexpr int SendFlags = MSG_NOSIGNAL;
void CloseSocket(Socket s) { ::close(s); }
Socket NonBlockingSocket(int family, int type) {
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}
int WaitFor(Socket s, short events, int timeoutMs) {
    pollfd p{s, events, 0};
    return ::poll(&p, 1, timeoutMs);
}
#endif

// The numbered texts of a language file, read once.
class FileTexts : public TextSource {
public:
    explicit FileTexts(const std::string& path) {
        TIniFile file(path);
        for (auto& [key, value] : file.ReadSectionValues("Texty")) {
            try {
                texts_[std::stoi(key)] = value;
            } catch (...) {
                // not a text number: ignored, like every other unusable line
            }
        }
    }
    bool Empty() const { return texts_.empty(); }
    std::string Msg(int number) const override {
        auto it = texts_.find(number);
        return it == texts_.end() ? std::string() : it->second;
    }
    std::string Text(int) override { return {}; }

private:
    std::map<int, std::string> texts_;
};

struct Options {
    RelayTarget target;
    std::vector<std::uint8_t> request;
    bool accounting = false;
    int watchMs = 0;
    long count = 0; // 0: until interrupted
    int timeoutMs = 3000;
    int quietMs = 60;
    std::string language; // path of the language file
    bool noText = false;
};

void Usage(std::ostream& out) {
    out << "usage: vantor-client [options] [host:]port HEXBYTES...\n"
           "       vantor-client [options] --accounting [host:]port\n"
           "\n"
           "Sends one exchange request through the gateway's TCP relay and prints the\n"
           "reply as hex bytes and as the gateway's log text.\n"
           "  HEXBYTES        the request payload, e.g. 00 16 00, 001600 or 0x00,0x16,0x00\n"
           "  --watch MS      repeat the request every MS milliseconds (Ctrl-C ends)\n"
           "  --count N       with --watch: stop after N replies\n"
           "  --accounting    read accounting records (request 04) until none is left\n"
           "  --timeout MS    wait at most MS for a reply (default 3000)\n"
           "  --quiet-ms MS   a reply is complete after MS without more bytes (default 60)\n"
           "  --lang FILE     language file for command names (default TVantor.Eng\n"
           "                  beside the program, then in the installed data directory)\n"
           "  --no-text       print hex bytes only\n"
           "  --help          this text\n"
           "  --version       the version\n"
           "Exit status: 0 success, 2 no connection, 3 no reply in time, 4 connection\n"
           "closed by the gateway, 64 usage error.\n";
}

bool ParseNumber(const char* text, long min, long max, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= min && value <= max;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto needValue = [&](long min, long max, long& value) {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], min, max, value)) {
                std::cerr << "vantor-client: " << arg << " needs a number from " << min << " to "
                          << max << "\n";
                return false;
            }
            ++i;
            return true;
        };
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else if (arg == "--version") {
            std::cout << "vantor-client (Tarvo Vantor) " << VANTOR_VERSION_TEXT << "\n";
            std::exit(0);
        } else if (arg == "--watch") {
            if (!needValue(1, 3600000, value)) return std::nullopt;
            options.watchMs = static_cast<int>(value);
        } else if (arg == "--count") {
            if (!needValue(1, 1000000000, value)) return std::nullopt;
            options.count = value;
        } else if (arg == "--timeout") {
            if (!needValue(1, 3600000, value)) return std::nullopt;
            options.timeoutMs = static_cast<int>(value);
        } else if (arg == "--quiet-ms") {
            if (!needValue(1, 10000, value)) return std::nullopt;
            options.quietMs = static_cast<int>(value);
        } else if (arg == "--accounting") {
            options.accounting = true;
        } else if (arg == "--no-text") {
            options.noText = true;
        } else if (arg == "--lang") {
            if (i + 1 >= argc) {
                std::cerr << "vantor-client: --lang needs a file name\n";
                return std::nullopt;
            }
            options.language = argv[++i];
        } else if (arg.size() > 2 && arg.rfind("--", 0) == 0) {
            std::cerr << "vantor-client: unknown option " << arg << "\n";
            return std::nullopt;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        Usage(std::cerr);
        return std::nullopt;
    }
    std::string error;
    auto target = ParseRelayTarget(positional[0], error);
    if (!target) {
        std::cerr << "vantor-client: " << error << "\n";
        return std::nullopt;
    }
    options.target = *target;
    positional.erase(positional.begin());
    if (options.accounting) {
        if (!positional.empty() || options.watchMs) {
            std::cerr << "vantor-client: --accounting takes no request bytes and no --watch\n";
            return std::nullopt;
        }
        options.request = {0x04};
    } else {
        auto bytes = ParseHexBytes(positional, error);
        if (!bytes) {
            std::cerr << "vantor-client: " << error << "\n";
            return std::nullopt;
        }
        options.request = std::move(*bytes);
    }
    return options;
}

std::string DefaultLanguageFile() {
    const std::string exe = ExecutablePath();
    if (!exe.empty()) {
        auto beside = std::filesystem::path(exe).parent_path() / "TVantor.Eng";
        if (std::filesystem::exists(beside)) return beside.string();
#ifdef VANTOR_DATA_DIR_FROM_BIN
        // An installed client: the data folder of its own installation.
        auto data =
            std::filesystem::path(exe).parent_path() / VANTOR_DATA_DIR_FROM_BIN / "TVantor.Eng";
        if (std::filesystem::exists(data)) return data.string();
#endif
    }
#ifdef VANTOR_DATA_DIR
    auto installed = std::filesystem::path(VANTOR_DATA_DIR) / "TVantor.Eng";
    if (std::filesystem::exists(installed)) return installed.string();
#endif
    return {};
}

class Connection {
public:
    ~Connection() {
        if (fd_ != NoSocket) CloseSocket(fd_);
    }

    // Connects within timeoutMs; on failure prints why and returns false.
    bool Open(const RelayTarget& target, int timeoutMs) {
        const std::string where = target.host + ":" + std::to_string(target.port);
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc =
            ::getaddrinfo(target.host.c_str(), std::to_string(target.port).c_str(), &hints, &found);
        if (rc != 0) {
            std::cerr << "vantor-client: cannot resolve " << target.host << ": "
                      << ::gai_strerror(rc) << "\n";
            return false;
        }
        std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
        fd_ = NonBlockingSocket(found->ai_family, found->ai_socktype);
        if (fd_ == NoSocket) {
            std::cerr << "vantor-client: socket: " << SocketErrorText(SocketError()) << "\n";
            return false;
        }
        if (::connect(fd_, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 &&
            !WouldBlock(SocketError())) {
            std::cerr << "vantor-client: cannot connect to " << where << ": "
                      << SocketErrorText(SocketError()) << "\n";
            return false;
        }
        const int ready = WaitFor(fd_, POLLOUT, timeoutMs);
        if (ready == 0) {
            std::cerr << "vantor-client: no connection to " << where << " within " << timeoutMs
                      << " ms\n";
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (ready < 0 || error != 0) {
            std::cerr << "vantor-client: cannot connect to " << where << ": "
                      << SocketErrorText(ready < 0 ? SocketError() : error)
                      << (error == RefusedError
                              ? " (is the gateway running, and is this its IPPort?)"
                              : "")
                      << "\n";
            return false;
        }
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        return true;
    }

    bool Send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto n = ::send(fd_, reinterpret_cast<const char*>(bytes.data()) + done,
                                  static_cast<int>(bytes.size() - done), SendFlags);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && WouldBlock(SocketError())) {
                WaitFor(fd_, POLLOUT, 1000);
            } else {
                std::cerr << "vantor-client: send failed: " << SocketErrorText(SocketError())
                          << "\n";
                return false;
            }
        }
        return true;
    }

    enum class Result { Reply, Timeout, Closed, Interrupted };

    // Waits up to timeoutMs for the first byte, then takes everything that
    // arrives until the line is quiet for quietMs.
    Result Receive(std::vector<std::uint8_t>& reply, int timeoutMs, int quietMs) {
        reply.clear();
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!stopRequested) {
            int wait = quietMs;
            if (reply.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) return Result::Timeout;
                wait = static_cast<int>(left.count());
            }
            const int ready = WaitFor(fd_, POLLIN, wait);
            if (ready < 0) {
                if (SocketError() == EINTR) continue;
                return Result::Closed;
            }
            if (ready == 0) {
                if (!reply.empty()) return Result::Reply;
                continue;
            }
            std::uint8_t buffer[4096];
            const auto n = ::recv(fd_, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
            if (n > 0) {
                reply.insert(reply.end(), buffer, buffer + n);
            } else if (n == 0 || !WouldBlock(SocketError())) {
                return reply.empty() ? Result::Closed : Result::Reply;
            }
        }
        return Result::Interrupted;
    }

private:
    Socket fd_ = NoSocket;
};

std::string Clock() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &t);
#else
    ::localtime_r(&t, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

int Fail(Connection::Result result, const Options& options) {
    const std::string where = options.target.host + ":" + std::to_string(options.target.port);
    if (result == Connection::Result::Timeout) {
        std::cerr << "vantor-client: no reply from " << where << " within " << options.timeoutMs
                  << " ms (the exchange may be busy or unreachable)\n";
        return ExitTimeout;
    }
    if (result == Connection::Result::Closed) {
        std::cerr << "vantor-client: " << where << " closed the connection\n";
        return ExitClosed;
    }
    return 0; // interrupted by the user
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = ParseArguments(argc, argv);
    if (!parsed) return ExitUsage;
    const Options options = std::move(*parsed);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#ifdef _WIN32
    WSADATA winsock;
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        std::cerr << "vantor-client: Winsock cannot be started\n";
        return ExitConnect;
    }
#endif

    std::unique_ptr<FileTexts> texts;
    if (!options.noText) {
        const std::string file =
            options.language.empty() ? DefaultLanguageFile() : options.language;
        if (!file.empty() && std::filesystem::exists(file))
            texts = std::make_unique<FileTexts>(file);
        if (!texts || texts->Empty()) {
            if (!options.language.empty())
                std::cerr << "vantor-client: no texts in " << options.language << "\n";
            texts.reset(); // numbers only
        }
    }
    std::optional<CommandFormatter> formatter;
    if (texts) formatter.emplace(*texts);

    Connection connection;
    if (!connection.Open(options.target, options.timeoutMs)) return ExitConnect;

    auto printReply = [&](const std::vector<std::uint8_t>& reply, bool stamped) {
        const std::string prefix = stamped ? Clock() + "  " : "";
        std::cout << prefix << "reply (" << reply.size() << " bytes): " << HexDump(reply) << "\n";
        if (formatter)
            std::cout << prefix << "text: "
                      << Utf8FromCp1250(
                             formatter->format(Direction::Reply, reply, options.request[0]))
                      << "\n";
        std::cout.flush();
    };

    if (formatter)
        std::cout << "request: " << HexDump(options.request) << "  ("
                  << Utf8FromCp1250(formatter->format(Direction::Request, options.request))
                  << ")\n";

    std::vector<std::uint8_t> reply;
    if (options.accounting) {
        long records = 0;
        while (!stopRequested) {
            if (!connection.Send(options.request)) return ExitClosed;
            const auto result = connection.Receive(reply, options.timeoutMs, options.quietMs);
            if (result != Connection::Result::Reply) return Fail(result, options);
            const auto record = AccountingRecordOf(reply);
            if (!record) {
                if (reply.size() != 1 || reply[0] != 0)
                    std::cout << "unexpected answer: " << HexDump(reply) << "\n";
                break;
            }
            std::cout << Utf8FromCp1250(*record) << "\n" << std::flush;
            ++records;
        }
        std::cerr << records << (records == 1 ? " record\n" : " records\n");
        return 0;
    }

    long replies = 0;
    do {
        const auto started = std::chrono::steady_clock::now();
        if (!connection.Send(options.request)) return ExitClosed;
        const auto result = connection.Receive(reply, options.timeoutMs, options.quietMs);
        if (result != Connection::Result::Reply) {
            // A watch survives a missed reply; a single request does not.
            if (!options.watchMs || result != Connection::Result::Timeout)
                return Fail(result, options);
            std::cerr << Clock() << "  no reply within " << options.timeoutMs << " ms\n";
        } else {
            printReply(reply, options.watchMs != 0);
            ++replies;
        }
        if (!options.watchMs || (options.count && replies >= options.count)) break;
        const auto next = started + std::chrono::milliseconds(options.watchMs);
        while (!stopRequested && std::chrono::steady_clock::now() < next) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                next - std::chrono::steady_clock::now());
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max<long long>(1, left.count())));
        }
    } while (!stopRequested);
    return 0;
}
