#pragma once
// Client ends on 127.0.0.1 for the tests of the listening socket, the same on
// Linux and Windows.  A socket is an int (a descriptor, or on Windows the
// Winsock SOCKET value, which fits); the connection is made blocking, then
// the socket is non-blocking.
#include <cstddef>

namespace vantor::test {

// receiveBuffer > 0 sets SO_RCVBUF first (a small one fills up quickly).
// -1 when the connection could not be made.
int ConnectLoopback(int port, int receiveBuffer = 0);
void CloseSocket(int socket);
// The next close resets the connection instead of ending it in order.
void ResetOnClose(int socket);
// Bytes sent, or -1.
long SendSome(int socket, const void* data, std::size_t size);
// Bytes read (> 0), 0 when the peer closed, -1 when nothing waits, -2 on an
// error (a reset).
long ReceiveNow(int socket, void* buffer, std::size_t size);
// Descriptors (Linux) or kernel handles (Windows) the process holds now.
int OpenHandleCount();

// The system's error codes the component reports.
extern const int kAddressInUse;
extern const int kNoBufferSpace;

} // namespace vantor::test
