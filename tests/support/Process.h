// Runs a program as a child process for tests: feeds it standard input,
// collects standard output (standard error merged in on request) and its exit
// status, and kills it when it outlives a bound.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace QelTest {

struct ProcessResult {
    std::string output;
    int exit_code = -1;      // 0..255 when the program exited
    int signal = 0;          // the signal that ended it, 0 when it exited
    bool timed_out = false;  // killed because it outlived the bound
};

struct ProcessOptions {
    std::string input;                         // written to its standard input, then closed
    bool stdin_dev_null = false;               // give it /dev/null instead of a pipe
    bool merge_stderr = false;
    std::chrono::milliseconds timeout{60000};
    std::map<std::string, std::string> env;    // added to (or replacing in) the environment
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

} // namespace QelTest
