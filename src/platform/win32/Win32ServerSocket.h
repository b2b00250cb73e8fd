#pragma once
// The listening socket on Windows: non-blocking Winsock 2 TCP over IPv4 on
// the event loop's socket watches (a loop that watches sockets: Win32Loop).
// It behaves as PosixServerSocket does, rule for rule:
//
// Reads: OnClientRead fires while data is waiting; bytes a handler leaves
// unread are read again on the next pass, but a handler that reads nothing
// at all has the waiting bytes discarded, so the loop cannot spin on them.
// Writes: SendBuf never blocks; what the system does not take at once is kept
// and sent when the socket can write (OnClientWrite then fires).  A client
// that lets more than SendBacklogLimit() bytes pile up is dropped: first
// OnBacklogExceeded, then OnClientError (eeSend, WSAENOBUFS), then the
// disconnect.  Connection handles are numbers of the component's own, not
// sockets, so a handle of a closed client is not reused at once.  Error codes
// are Winsock's (WSAGetLastError).
//
// Limits: a connection beyond MaxConnections() is accepted and closed at
// once (OnClientRefused, TRefusal::Limit).  There is no descriptor reserve as
// on Linux: Windows does not count sockets against a per-process table the
// program's files share.
//
// The port is bound without SO_REUSEADDR, whose Windows meaning is to share
// a port with another listener: Windows lets a restarted gateway bind its
// port again while old connections wait out their close anyway.
#include "toolkit/EventLoop.h"
#include "toolkit/ServerSocket.h"

#include <memory>

namespace vantor {

// The component for the main window.
std::unique_ptr<TServerSocket> MakeServerSocket(TComponent* owner, EventLoop& loop);

} // namespace vantor
