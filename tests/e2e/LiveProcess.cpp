#include "LiveProcess.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace QelTest {

namespace {

// The child's environment: ours with `env` laid over it. Built before fork,
// since the child of a threaded parent may only make system calls.
std::vector<std::string> Environment(const std::map<std::string, std::string>& env)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        if (env.count(key) == 0) result.push_back(text);
    }
    for (const auto& [key, value] : env) result.push_back(key + "=" + value);
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

LiveProcess::LiveProcess(const NetNs& ns, const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env)
{
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = Environment(env);
    std::vector<char*> arg_pointers = Pointers(args);
    std::vector<char*> env_pointers = Pointers(environment);

    const std::string ns_path = "/run/netns/" + ns.Name();
    const int ns_fd = open(ns_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) throw std::runtime_error("cannot open " + ns_path + ": " + std::strerror(errno));
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(ns_fd);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }

    pid_ = fork();
    if (pid_ == 0) {
        // The program never runs outside the namespace: no setns, no exec.
        if (setns(ns_fd, CLONE_NEWNET) != 0) _exit(126);
        dup2(in_pipe[0], STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(out_pipe[1], STDERR_FILENO);
        execve(arg_pointers[0], arg_pointers.data(), env_pointers.data());
        _exit(127);
    }
    close(ns_fd);
    close(in_pipe[0]);
    close(out_pipe[1]);
    if (pid_ < 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    input_fd_ = in_pipe[1];
    // A program that stops reading must not end the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    reader_ = std::thread([this, fd = out_pipe[0]] { ReadAll(fd); });
}

LiveProcess::~LiveProcess()
{
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    CloseInput();
    if (reader_.joinable()) reader_.join();
}

void LiveProcess::ReadAll(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    output_ended_ = true;
    changed_.notify_all();
}

void LiveProcess::Type(const std::string& text)
{
    std::size_t written = 0;
    while (input_fd_ >= 0 && written < text.size()) {
        const ssize_t n = write(input_fd_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
}

void LiveProcess::CloseInput()
{
    if (input_fd_ >= 0) close(input_fd_);
    input_fd_ = -1;
}

bool LiveProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds bound, std::size_t from)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [&] {
        return output_.find(text, from) != std::string::npos || output_ended_;
    }) && output_.find(text, from) != std::string::npos;
}

std::string LiveProcess::Output() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

ProcessResult LiveProcess::Wait(std::chrono::milliseconds bound)
{
    if (reaped_) return result_;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        // The reader wakes us on every output; otherwise look again soon.
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (done == 0) {
        result_.timed_out = true;
        kill(pid_, SIGKILL);
        done = waitpid(pid_, &status, 0);
    }
    reaped_ = true;
    CloseInput();
    if (reader_.joinable()) reader_.join();
    // A failed waitpid leaves status 0, which must not read as a clean exit.
    if (done > 0 && WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
    if (done > 0 && WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    result_.output = Output();
    return result_;
}

}  // namespace QelTest
