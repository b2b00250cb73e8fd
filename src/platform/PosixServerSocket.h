#pragma once
// The listening socket on Linux: non-blocking IPv4 TCP on all local
// addresses with SO_REUSEADDR, driven by the event loop's fd watches, with
// the rules of ServerSocketCore; error codes are errno's (ENOBUFS for a
// backlog over the limit).
//
// Besides MaxConnections(), a connection that would leave fewer than
// DescriptorReserve descriptors free under the process's limit
// (RLIMIT_NOFILE) is accepted and closed at once (OnClientRefused).  The
// reserve is for the program's own files: the accounting file, the serial
// line when it is opened again, the configuration and language files, the
// libraries it loads.  Without it a flood of idle clients would take every
// descriptor and those would fail instead.
#include "platform/FileDescriptor.h"
#include "platform/portable/ServerSocketCore.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace vantor {

class PosixServerSocket final : public ServerSocketCore {
public:
    static constexpr long long DescriptorReserve = 64;

    PosixServerSocket(TComponent* owner, EventLoop& loop);
    ~PosixServerSocket() override { closeSilently(); }

private:
    class Client;

    int openListener(int& port) override;
    void closeListener() override { listenFd_.reset(); }
    std::unique_ptr<Connection> acceptNext(bool& more) override;
    // Beyond the shared limit: the descriptors kept for the program's own use.
    std::optional<TRefusal> refusalFor(Connection& client) override;
    std::string describe(int error, const char* api) const override;

    FileDescriptor listenFd_;
    // Descriptors open besides the clients, when they were last counted, and
    // the clients there were when that count refused one (-1: it did not).
    long long othersOpen_ = 0;
    std::int64_t countedAt_ = INT64_MIN / 2;
    int refusedWithClients_ = -1;
};

// The component for the main window.
std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop);

} // namespace vantor
