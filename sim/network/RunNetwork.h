// Serves a Device on the network (NetworkFrontEnd) until SIGINT or SIGTERM.
// Runs on the caller's (main) thread; the device is used by the report
// server's worker only. Answers 0 after a signal, 1 when the front end could
// not start (the reason goes to standard error).
#pragma once

#include "sim/Device.h"
#include "sim/network/NetworkOptions.h"

namespace QelSim {

int RunNetwork(Device& device, const NetworkOptions& options);

} // namespace QelSim
