#include "ForkedRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace QelTest {

ForkedResult RunForked(const std::map<std::string, std::string>& env,
                       const std::function<int()>& body, std::chrono::milliseconds timeout) {
    ForkedResult result;
    int out_pipe[2] = {-1, -1};
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(out_pipe[1], STDERR_FILENO);
        for (const auto& [key, value] : env) {
            if (value.empty()) {
                unsetenv(key.c_str());
            } else {
                setenv(key.c_str(), value.c_str(), 1);
            }
        }
        int code = 255;
        try {
            code = body();
        } catch (...) {
            code = 254;
        }
        std::fflush(nullptr);
        _exit(code);
    }

    close(out_pipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd pfd{out_pipe[0], POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out_pipe[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace QelTest
