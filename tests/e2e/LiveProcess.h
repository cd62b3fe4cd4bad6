// LiveProcess: a program started inside a network namespace with its standard
// input and output on pipes, read while it runs, so that a test can act on
// what the program has printed so far (type an answer after a prompt, end a
// peer once a stage was reached) and still collect the whole output.
//
// Threads: the owner's thread calls everything; one reader thread per
// process appends the output (standard error merged in) to a buffer guarded
// by `mutex_`, and signals `changed_` on every read and at end of output.
// Every wait has a bound. The destructor kills the program (SIGKILL, by its
// pid) if it still runs and joins the reader.
// Failure to start shows as std::runtime_error.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetNs.h"
#include "Process.h"

namespace QelTest {

class LiveProcess {
public:
    // Runs argv[0] (an absolute path) in `ns` with the current environment
    // plus `env`.
    LiveProcess(const NetNs& ns, const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& env);
    ~LiveProcess();
    LiveProcess(const LiveProcess&) = delete;
    LiveProcess& operator=(const LiveProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Writes to the program's standard input (ignored once it has closed it).
    void Type(const std::string& text);
    void CloseInput();

    // True once the output holds `text` at or after `from`; false when the
    // output ended or `bound` passed first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds bound, std::size_t from = 0);
    std::string Output() const;

    // Waits for the program to end; kills it when it outlives `bound`
    // (timed_out set). The output is all it wrote.
    ProcessResult Wait(std::chrono::milliseconds bound);

private:
    void ReadAll(int fd);

    pid_t pid_ = -1;
    int input_fd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;       // guarded by mutex_
    bool output_ended_ = false;  // guarded by mutex_
    bool reaped_ = false;
    ProcessResult result_;
};

}  // namespace QelTest
