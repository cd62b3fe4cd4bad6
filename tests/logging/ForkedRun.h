// Runs a piece of test code in a forked child with its own environment, so
// that once-per-process set-up (the logging core) starts fresh each time.
// The child's standard output and error are captured together.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace QelTest {

struct ForkedResult {
    std::string output;      // everything the child wrote to stdout and stderr
    int exit_code = -1;      // the body's return value (0..255) when it exited
    int signal = 0;          // the signal that ended it, 0 when it exited
    bool timed_out = false;  // killed because it outlived the bound
};

// Sets each variable of `env` in the child (an empty value unsets it), runs
// `body` there and ends the child with its return value, without running
// the parent's exit handlers.
ForkedResult RunForked(const std::map<std::string, std::string>& env,
                       const std::function<int()>& body,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace QelTest
