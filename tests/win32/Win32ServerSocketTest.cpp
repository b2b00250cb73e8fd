// Win32ServerSocket keeps the rules of every listening socket.
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32ServerSocket.h"
#include "support/ServerSocketContract.h"

namespace vantor::test {

std::unique_ptr<EventLoop> MakeContractLoop() { return std::make_unique<Win32Loop>(); }

std::unique_ptr<TServerSocket> MakeContractServerSocket(EventLoop& loop) {
    return MakeServerSocket(nullptr, loop);
}

} // namespace vantor::test
