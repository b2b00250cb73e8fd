#pragma once
// The gateway's outer edges on this system, handed in by the program entry:
// serial devices, the listening socket, the outside libraries, the
// accounting file's appender, the temporary folder and the file system the
// directory chooser browses.  Tests hand fakes in instead.
#include "core/Gateway.h"

namespace vantor {

class EventLoop;

// Fills the edges of `env` (whose programPath is set) for the loop the
// gateway runs on.
void UseThePlatform(GatewayEnvironment& env, EventLoop& loop);

} // namespace vantor
