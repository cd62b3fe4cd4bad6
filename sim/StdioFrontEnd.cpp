#include "sim/StdioFrontEnd.h"

#include <cerrno>
#include <thread>

#include <unistd.h>

namespace QelSim {

namespace {

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int RunStdio(Device& device, int in_fd, int out_fd) {
    std::vector<std::uint8_t> buffer(4096);
    for (;;) {
        const ssize_t n = ::read(in_fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 1;
        if (n == 0) return 0;
        for (const Output& output : device.Consume(std::span(buffer.data(), static_cast<std::size_t>(n)))) {
            // The program's own pacing, not synchronisation: this is how late the unit answers.
            if (output.delay.count() > 0) std::this_thread::sleep_for(output.delay);
            if (!WriteAll(out_fd, output.bytes)) return 1;
        }
    }
}

}  // namespace QelSim
