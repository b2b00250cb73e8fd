#pragma once
// The listening socket on Windows: non-blocking Winsock 2 TCP over IPv4 on
// the event loop's socket watches (a loop that watches sockets: Win32Loop),
// with the rules of ServerSocketCore, as on Linux.  Error codes are Winsock's
// (WSAGetLastError; WSAENOBUFS for a backlog over the limit).  There is no
// descriptor reserve as on Linux: Windows does not count sockets against a
// per-process table the program's files share.
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
