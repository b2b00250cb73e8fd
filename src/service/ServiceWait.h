#pragma once
// Waiting for the service manager without stopping the gateway: the loop
// keeps serving the exchange line and the clients while a dialog waits for
// a service to stop.
#include "toolkit/EventLoop.h"

namespace vantor {

// Returns after ms milliseconds of real time, running the loop's due work
// meanwhile.
void WaitWhileServing(EventLoop& loop, int ms);

} // namespace vantor
