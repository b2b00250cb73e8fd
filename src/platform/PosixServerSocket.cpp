#include "platform/PosixServerSocket.h"
#include "platform/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor {
namespace {

std::string Describe(int error, const char* api) {
    return std::string("Socket error: ") + std::strerror(error) + " (" + std::to_string(error) +
           "), on API '" + api + "'";
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// How often the descriptors are counted while the process is far from its
// limit, and how long a count that refused a connection stands for the next.
constexpr std::int64_t kRecountMs = 1000;
constexpr std::int64_t kRefusalStandsMs = 100;

// The process's descriptor limit (RLIMIT_NOFILE), or none.
std::optional<long long> DescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<long long>(limit.rlim_cur);
}

// Descriptors the process has open, newest being the one just taken.  The
// count comes from /proc/self/fd: descriptor numbers alone do not tell, since
// clients that left make holes below others that stay.  Where /proc cannot be
// read, the lowest free number (which the system hands out, so every number
// below newest is taken) stands in; when the directory cannot be opened for
// want of descriptors, all of `limit` are taken.
long long OpenDescriptors(int newest, long long limit) {
    long long open = static_cast<long long>(newest) + 1;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        long long entries = 0;
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++entries;
        ::closedir(dir);
        open = std::max(open, entries - 1); // less the directory's own descriptor
    } else if (errno == EMFILE || errno == ENFILE) {
        open = limit;
    }
    return open;
}

} // namespace

class PosixServerSocket::Client final : public Connection {
public:
    Client(PosixServerSocket& server, FileDescriptor fd, std::string address, int port)
        : Connection(server, std::move(address), port), fd_(std::move(fd)) {}
    ~Client() override { release(); }

    int Descriptor() const override { return fd_.get(); }

private:
    std::size_t sendSome(const char* data, std::size_t size, int& error) override {
        for (;;) {
            const ssize_t n = ::send(fd_.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            error = n < 0 && !WouldBlock(errno) ? errno : 0;
            if (n >= 0 || errno != EINTR) return n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }

    long receiveSome(char* buffer, std::size_t size, int& error) override {
        for (;;) {
            const ssize_t n = ::recv(fd_.get(), buffer, size, MSG_DONTWAIT);
            error = n < 0 && !WouldBlock(errno) ? errno : 0;
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    int bytesWaiting() override {
        int pending = 0;
        if (::ioctl(fd_.get(), FIONREAD, &pending) != 0 || pending < 0) pending = 0;
        return pending;
    }

    int pendingError() override {
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error == 0)
            error = ECONNRESET;
        return error;
    }

    bool socketOpen() const override { return fd_.valid(); }
    void closeSocket() override { fd_.reset(); }

    FileDescriptor fd_;
};

PosixServerSocket::PosixServerSocket(TComponent* owner, EventLoop& loop)
    : ServerSocketCore(owner, loop, {EINVAL, ENOBUFS, "poll"}) {}

std::string PosixServerSocket::describe(int error, const char* api) const {
    return Describe(error, api);
}

int PosixServerSocket::openListener(int& port) {
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) throw ESocketError(Describe(errno, "socket"), errno);
    auto fail = [](const char* api) {
        const int e = errno;
        throw ESocketError(Describe(e, api), e);
    };
    const int one = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) fail("setsockopt");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!BindAddress().empty() &&
        ::inet_pton(AF_INET, BindAddress().c_str(), &address.sin_addr) != 1) {
        throw ESocketError("Socket error: " + BindAddress() + " is no IPv4 address", EINVAL);
    }
    address.sin_port = htons(static_cast<std::uint16_t>(Port()));
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
    if (::listen(fd.get(), SOMAXCONN) != 0) fail("listen");
    socklen_t len = sizeof address;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &len) != 0)
        fail("getsockname");
    listenFd_ = std::move(fd);
    port = ntohs(address.sin_port);
    return listenFd_.get();
}

std::unique_ptr<ServerSocketCore::Connection> PosixServerSocket::acceptNext(bool& more) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    FileDescriptor fd(::accept4(listenFd_.get(), reinterpret_cast<sockaddr*>(&peer), &len,
                                SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
        const int e = errno;
        more = e == EINTR || e == ECONNABORTED || e == EPROTO;
        if (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM) pauseAccepting();
        return nullptr; // EAGAIN: all taken
    }
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) text[0] = '\0';
    // Left to itself the system grows a socket's send buffer up to megabytes
    // for a client that never reads, and the backlog limit would act only
    // after that: a fixed buffer of the limit's size keeps what one client
    // can cost small.
    const int sendBuffer = static_cast<int>(std::min<std::size_t>(SendBacklogLimit(), INT_MAX));
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    return std::make_unique<Client>(*this, std::move(fd), text, ntohs(peer.sin_port));
}

std::optional<TRefusal> PosixServerSocket::refusalFor(Connection& client) {
    if (const auto refusal = ServerSocketCore::refusalFor(client)) return refusal;
    const int clients = ActiveConnections();
    const auto limit = DescriptorLimit();
    if (!limit) return std::nullopt;
    // Walking /proc/self/fd on every accept would make each connection of a
    // flood cost a walk over a thousand entries.  What the rest of the program
    // holds (everything but the clients) is counted once a second, and afresh
    // whenever the estimate comes near the reserve, except right after a count
    // that refused while no client has left since.
    const std::int64_t now = loop_.monotonicMs();
    const auto freeAfter = [&] { return *limit - (othersOpen_ + clients + 1); };
    const bool refusalStands = refusedWithClients_ >= 0 && clients >= refusedWithClients_ &&
                               now - countedAt_ < kRefusalStandsMs;
    if (now - countedAt_ >= kRecountMs || (freeAfter() < 2 * DescriptorReserve && !refusalStands)) {
        othersOpen_ = OpenDescriptors(client.Descriptor(), *limit) - (clients + 1);
        countedAt_ = now;
    }
    if (freeAfter() >= DescriptorReserve) {
        refusedWithClients_ = -1;
        return std::nullopt;
    }
    refusedWithClients_ = clients;
    return TRefusal::Descriptors;
}

std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop) {
    return std::make_unique<PosixServerSocket>(owner, loop);
}

} // namespace vantor
