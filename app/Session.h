// The session stages that follow the command line: scan, choice, identity and
// the upgrade or verify run. Returns the process exit code.
#pragma once

#include "CommandLine.h"

#include <iosfwd>

int RunSession(const CommandLine& cmd, std::ostream& out);
