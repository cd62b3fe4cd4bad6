#include "NetNs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace QelTest {

namespace {

// Runs before main: the main thread (the only one at that point, apart from
// a sanitizer's helper) leaves the machine's namespace for good.
struct Isolation {
    bool ok = false;
    std::string error;
    Isolation()
    {
        if (unshare(CLONE_NEWNET) == 0) {
            ok = true;
        } else {
            error = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno) +
                    " (the network tests need root)";
        }
    }
};

Isolation& TheIsolation()
{
    static Isolation isolation;
    return isolation;
}

[[maybe_unused]] const bool isolated_at_start = TheIsolation().ok;

const char* const kPrefix = "qelt";
const char* const kNetnsDir = "/run/netns";

std::string Join(const std::vector<std::string>& argv)
{
    std::string text;
    for (const auto& a : argv) {
        if (!text.empty()) text += ' ';
        text += a;
    }
    return text;
}

std::string RunOrThrow(const std::vector<std::string>& argv)
{
    ProcessOptions options;
    options.merge_stderr = true;
    options.stdin_dev_null = true;
    options.timeout = std::chrono::milliseconds(30000);
    const ProcessResult result = RunProcess(argv, options);
    if (result.exit_code != 0) {
        throw std::runtime_error("command failed (status " + std::to_string(result.exit_code) +
                                 "): " + Join(argv) + ": " + result.output);
    }
    return result.output;
}

// Namespaces whose creating test process has gone (it crashed or was
// killed before its destructors ran).
void RemoveStaleNamespaces()
{
    static bool done = false;
    if (done) return;
    done = true;
    DIR* dir = opendir(kNetnsDir);
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kPrefix, 0) != 0) continue;
        const std::size_t underscore = name.find('_');
        if (underscore == std::string::npos) continue;
        const std::string digits = name.substr(std::strlen(kPrefix), underscore - std::strlen(kPrefix));
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (kill(pid, 0) != 0 && errno == ESRCH) stale.push_back(name);
    }
    closedir(dir);
    for (const auto& name : stale) {
        ProcessOptions options;
        options.stdin_dev_null = true;
        RunProcess({"ip", "netns", "delete", name}, options);
    }
}

} // namespace

bool ProcessIsolated() { return TheIsolation().ok; }
std::string IsolationError() { return TheIsolation().error; }

NetNs::NetNs(const std::string& tag)
    : name_(std::string(kPrefix) + std::to_string(getpid()) + "_" + tag)
{
    if (!ProcessIsolated()) throw std::runtime_error(IsolationError());
    RemoveStaleNamespaces();
    RunOrThrow({"ip", "netns", "add", name_});
    try {
        RunOrThrow({"ip", "-n", name_, "link", "set", "lo", "up"});
    } catch (...) {
        ProcessOptions options;
        options.stdin_dev_null = true;
        RunProcess({"ip", "netns", "delete", name_}, options);
        throw;
    }
}

NetNs::~NetNs()
{
    ProcessOptions options;
    options.stdin_dev_null = true;
    options.merge_stderr = true;
    const ProcessResult result = RunProcess({"ip", "netns", "delete", name_}, options);
    if (result.exit_code != 0) {
        std::fprintf(stderr, "NetNs: could not delete %s: %s\n", name_.c_str(), result.output.c_str());
    }
}

ProcessResult NetNs::Run(const std::vector<std::string>& argv) const
{
    std::vector<std::string> full{"ip", "netns", "exec", name_};
    full.insert(full.end(), argv.begin(), argv.end());
    ProcessOptions options;
    options.stdin_dev_null = true;
    options.merge_stderr = true;
    return RunProcess(full, options);
}

std::string NetNs::RunChecked(const std::vector<std::string>& argv) const
{
    std::vector<std::string> full{"ip", "netns", "exec", name_};
    full.insert(full.end(), argv.begin(), argv.end());
    return RunOrThrow(full);
}

void AddVeth(const NetNs& left, const std::string& left_if, const std::string& left_cidr,
             const NetNs& right, const std::string& right_if, const std::string& right_cidr)
{
    RunOrThrow({"ip", "link", "add", left_if, "netns", left.Name(), "type", "veth", "peer", "name", right_if,
                "netns", right.Name()});
    RunOrThrow({"ip", "-n", left.Name(), "addr", "add", left_cidr, "brd", "+", "dev", left_if});
    RunOrThrow({"ip", "-n", right.Name(), "addr", "add", right_cidr, "brd", "+", "dev", right_if});
    RunOrThrow({"ip", "-n", left.Name(), "link", "set", left_if, "up"});
    RunOrThrow({"ip", "-n", right.Name(), "link", "set", right_if, "up"});
    // Until the kernel's link watcher has seen the carrier, the pair drops
    // every packet (it can take up to a second): wait for both ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (const auto& [ns, link] : {std::pair{&left, left_if}, std::pair{&right, right_if}}) {
        while (RunOrThrow({"ip", "-n", ns->Name(), "-o", "link", "show", "dev", link}).find("state UP") ==
               std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error("link " + link + " in " + ns->Name() + " did not come up");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

ScopedNetNs::ScopedNetNs(const NetNs& ns)
{
    previous_fd_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previous_fd_ < 0) throw std::runtime_error(std::string("open own netns: ") + std::strerror(errno));
    const std::string path = std::string(kNetnsDir) + "/" + ns.Name();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        const std::string error = std::strerror(errno);
        if (fd >= 0) close(fd);
        close(previous_fd_);
        throw std::runtime_error("cannot enter " + path + ": " + error);
    }
    close(fd);
}

ScopedNetNs::~ScopedNetNs()
{
    if (setns(previous_fd_, CLONE_NEWNET) != 0) {
        // Staying in a test namespace is still isolated, but say so.
        std::fprintf(stderr, "ScopedNetNs: cannot return: %s\n", std::strerror(errno));
    }
    close(previous_fd_);
}

BackgroundProcess::BackgroundProcess(const NetNs& ns, const std::vector<std::string>& argv)
{
    char pattern[] = "/tmp/qelt_bg_XXXXXX";
    const int log_fd = mkstemp(pattern);
    if (log_fd < 0) throw std::runtime_error(std::string("mkstemp: ") + std::strerror(errno));
    log_path_ = pattern;
    const std::string ns_path = std::string(kNetnsDir) + "/" + ns.Name();
    const int ns_fd = open(ns_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) {
        close(log_fd);
        throw std::runtime_error("cannot open " + ns_path);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        // Only system calls from here on: the parent has other threads.
        if (setns(ns_fd, CLONE_NEWNET) != 0) _exit(126);
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(log_fd, STDOUT_FILENO);
        dup2(log_fd, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(ns_fd);
    close(log_fd);
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
}

BackgroundProcess::~BackgroundProcess()
{
    Stop();
    if (!log_path_.empty()) unlink(log_path_.c_str());
}

int BackgroundProcess::Stop()
{
    if (pid_ <= 0) return -1;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    pid_ = -1;
    return status;
}

bool BackgroundProcess::Running() const
{
    if (pid_ <= 0) return false;
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == 0;
}

bool BackgroundProcess::WaitForPort(const std::string& protocol, std::uint16_t port,
                                    std::chrono::milliseconds bound) const
{
    const std::string path = "/proc/" + std::to_string(pid_) + "/net/" + protocol;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream table(path);
        std::string line;
        std::getline(table, line); // heading
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const bool port_matches = local.size() >= 5 && local.compare(local.size() - 5, 5, wanted) == 0;
            if (port_matches && (protocol != "tcp" || state == "0A")) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string BackgroundProcess::Output() const
{
    std::ifstream in(log_path_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/qelt_dir_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

} // namespace QelTest
