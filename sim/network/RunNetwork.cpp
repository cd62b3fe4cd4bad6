#include "sim/network/RunNetwork.h"

#include <csignal>
#include <iostream>
#include <mutex>

#include "sim/network/NetworkFrontEnd.h"

namespace QelSim {

int RunNetwork(Device& device, const NetworkOptions& options)
{
    // Blocked before any thread starts, so that only sigwait below sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::mutex device_mutex;
    NetworkFrontEnd front_end(options, [&](std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(device_mutex);
        std::vector<NetReply> replies;
        for (Output& output : device.Consume(bytes)) replies.push_back({std::move(output.bytes), output.delay});
        return replies;
    });
    std::string error;
    if (!front_end.Start(error)) {
        std::cerr << "qel_sim: " << error << "\n";
        return 1;
    }
    std::cout << "qel_sim: serving " << options.serial_number << " on " << options.address << std::endl;
    int signal = 0;
    sigwait(&stop_signals, &signal);
    front_end.Stop();
    return 0;
}

} // namespace QelSim
