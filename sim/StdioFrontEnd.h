// Serves a Device over a pair of file descriptors: host bytes are read from
// one, the device's answers written to the other, each after its delay.
// Runs on the caller's thread until end of input; single-threaded, so a
// delayed answer also holds back the reading of later host bytes, which
// keeps answers in order exactly as the device produced them.
#pragma once

#include "sim/Device.h"

namespace QelSim {

// 0 at end of input, 1 when reading or writing fails.
int RunStdio(Device& device, int in_fd, int out_fd);

}  // namespace QelSim
