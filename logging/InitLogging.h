#pragma once
// InitLogging: configures the process's logging (Boost.Log) from the per-user
// settings file, writing the compiled-in default file first when there is
// none. Called by the thread that creates the ConnectionList, before any
// library thread exists; it takes no lock of its own beyond a process-wide
// once flag, so only the first call in a process does anything.
//
// Failure never reaches the caller and nothing is printed: a settings folder
// that cannot be made, a settings file that cannot be read, is too large or
// too deeply nested, or that Boost.Log rejects leaves the logging core
// switched off and the program runs on without a log.

namespace Qel {

void InitLogging();

}  // namespace Qel
