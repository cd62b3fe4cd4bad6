// Test network harness: private network namespaces joined by veth pairs, so
// that tests which broadcast, connect and run TFTP never reach the machine's
// real interfaces.
//
// Safety net: as soon as a test program that links this file starts, its
// main thread leaves the machine's network namespace for a fresh, empty one
// (see ProcessIsolated). Every thread and socket the program creates from
// then on lives either there (no interfaces but a downed loopback) or in a
// namespace a test created and entered with ScopedNetNs.
//
// Names carry the test process's pid ("qelt<pid>_<tag>"), so tests in
// separate processes never collide; namespaces left behind by a crashed run
// (their pid gone) are removed the next time a NetNs is created.
//
// Failure shows as a std::runtime_error naming the command that failed: a
// test that cannot build its network fails, it never skips.
// All calls are made from the test's own thread; nothing here is thread-safe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Process.h"

namespace QelTest {

// True when the process moved into its own empty network namespace at
// start-up; IsolationError() says why not otherwise. Namespaced tests assert
// this first.
bool ProcessIsolated();
std::string IsolationError();

// One named network namespace, loopback up; deleted (with every interface in
// it) on destruction.
class NetNs {
public:
    explicit NetNs(const std::string& tag);
    ~NetNs();
    NetNs(const NetNs&) = delete;
    NetNs& operator=(const NetNs&) = delete;

    const std::string& Name() const { return name_; }

    // Runs a command inside the namespace ("ip netns exec").
    ProcessResult Run(const std::vector<std::string>& argv) const;
    // The same, throwing std::runtime_error unless it exits with status 0.
    std::string RunChecked(const std::vector<std::string>& argv) const;

private:
    std::string name_;
};

// A veth pair: `left_if` in `left` with address `left_cidr` (e.g.
// "198.51.100.1/24"), `right_if` in `right` with `right_cidr`; both up.
// The pair disappears with either namespace.
void AddVeth(const NetNs& left, const std::string& left_if, const std::string& left_cidr,
             const NetNs& right, const std::string& right_if, const std::string& right_cidr);

// Moves the calling thread into `ns` and back on destruction. Threads the
// calling thread starts meanwhile inherit the namespace, as do sockets it
// creates (a socket keeps its namespace for life).
class ScopedNetNs {
public:
    explicit ScopedNetNs(const NetNs& ns);
    ~ScopedNetNs();
    ScopedNetNs(const ScopedNetNs&) = delete;
    ScopedNetNs& operator=(const ScopedNetNs&) = delete;

private:
    int previous_fd_ = -1;
};

// A program started inside a namespace (its standard output and error go to
// a log file); ended by its pid on destruction: SIGTERM, then SIGKILL when it
// has not gone within a second.
class BackgroundProcess {
public:
    BackgroundProcess(const NetNs& ns, const std::vector<std::string>& argv);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Waits until the process has a socket bound to `port` ("tcp": listening,
    // "udp": bound), read from /proc/<pid>/net; false after `bound`.
    bool WaitForPort(const std::string& protocol, std::uint16_t port,
                     std::chrono::milliseconds bound = std::chrono::milliseconds(10000)) const;
    bool Running() const;
    // Everything the program wrote so far.
    std::string Output() const;
    // Ends it now; the exit status as waitpid gives it.
    int Stop();

private:
    pid_t pid_ = -1;
    std::string log_path_;
};

// A private temporary directory, removed with its content on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace QelTest
