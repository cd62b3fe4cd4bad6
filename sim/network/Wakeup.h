// Wakeup: an eventfd that a Stop() sets so that threads blocked in poll()
// leave at once. Set from any thread; read by the polling threads.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace QelSim {

class Wakeup {
public:
    Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Wakeup()
    {
        if (fd_ >= 0) close(fd_);
    }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Stays set: every later wait returns at once.
    void Set()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
    }
    bool IsSet() const
    {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

    // Waits until `fd` is ready for `events`, the wake-up is set or the
    // timeout passes. Answers the revents of `fd` (0 on timeout or wake-up).
    short WaitFor(int fd, short events, std::chrono::milliseconds timeout) const
    {
        pollfd p[2] = {{fd_, POLLIN, 0}, {fd, events, 0}};
        const int ready = poll(p, fd < 0 ? 1 : 2, static_cast<int>(timeout.count()));
        if (ready <= 0 || (p[0].revents & POLLIN)) return 0;
        return p[1].revents;
    }
    // Sleeps up to `timeout`; false when woken by Set.
    bool Sleep(std::chrono::milliseconds timeout) const
    {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(timeout.count())) == 0;
    }

private:
    int fd_;
};

} // namespace QelSim
