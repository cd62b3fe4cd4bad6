#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace QelTest {

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult result;
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    if (!options.stdin_dev_null && pipe2(in_pipe, O_CLOEXEC) != 0) return result;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;

    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        if (options.stdin_dev_null) {
            const int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, STDIN_FILENO);
        } else {
            dup2(in_pipe[0], STDIN_FILENO);
        }
        dup2(out_pipe[1], STDOUT_FILENO);
        if (options.merge_stderr) dup2(out_pipe[1], STDERR_FILENO);
        for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }

    close(out_pipe[1]);
    if (!options.stdin_dev_null) {
        close(in_pipe[0]);
        // The input is small; a program that does not read it gets EPIPE, which
        // must not kill the test.
        signal(SIGPIPE, SIG_IGN);
        size_t written = 0;
        while (written < options.input.size()) {
            const ssize_t n = write(in_pipe[1], options.input.data() + written, options.input.size() - written);
            if (n <= 0) break;
            written += static_cast<size_t>(n);
        }
        close(in_pipe[1]);
    }

    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    char buffer[4096];
    bool eof = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        struct pollfd pfd {out_pipe[0], POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            eof = true;
            break;
        }
        if (n < 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(out_pipe[0]);
    // Without the end of its output the child may still run: the wait below
    // must not outlive the bound.
    if (!eof && !result.timed_out) kill(pid, SIGKILL);

    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return result;   // exit_code stays -1: never a clean exit
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

} // namespace QelTest
