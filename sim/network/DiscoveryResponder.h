// DiscoveryResponder: the simulated system's answer to the host's discovery
// broadcast. Listens on UDP 28242 of every address of its namespace and
// answers each question "Discovery: Who is out there?\n" to its sender with
// "SNO: ", "MAC: " and "ReqIP: " lines (CRLF), shaped by NetworkOptions.
//
// Threads: Start/Stop from the owner's thread; one worker thread of its own,
// woken by Stop and joined there. Failure: Start answers false with a reason.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "sim/network/NetworkOptions.h"
#include "sim/network/Wakeup.h"

namespace QelSim {

// The answer datagram for these options.
std::string DiscoveryAnswer(const NetworkOptions& options);

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(const NetworkOptions& options);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    bool Start(std::string& error);
    void Stop();
    int QuestionsAnswered() const { return answered_.load(); }

private:
    void Run();

    NetworkOptions options_;
    int socket_ = -1;
    Wakeup stop_;
    std::thread worker_;
    std::atomic<int> answered_{0};
};

} // namespace QelSim
