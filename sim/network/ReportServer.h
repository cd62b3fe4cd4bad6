// ReportServer: the simulated system's report port. Accepts one TCP
// connection at a time on port 28244, connects back to the host's port 28245
// (the back channel, for interrupts), feeds every byte received to the device
// and writes the device's answers back, each after its delay.
//
// Threads: Start/Stop and the test controls from any thread; one worker
// thread of its own (accepts, serves, writes), woken by Stop and joined
// there. The device consumer is called on that worker only. mutex_ guards
// back_channel_ (written by the worker, used by SendInterrupt).
// Failure: Start answers false with a reason; a connection that fails is
// closed and the next one accepted.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/network/NetworkOptions.h"
#include "sim/network/Wakeup.h"

namespace QelSim {

struct NetReply {
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds delay{0}; // waited before these bytes are written
};

class ReportServer {
public:
    using Consumer = std::function<std::vector<NetReply>(std::span<const std::uint8_t>)>;

    ReportServer(const NetworkOptions& options, Consumer consumer);
    ~ReportServer();
    ReportServer(const ReportServer&) = delete;
    ReportServer& operator=(const ReportServer&) = delete;

    bool Start(std::string& error);
    void Stop();

    // Writes one unsolicited report over the back channel; false when there
    // is none.
    bool SendInterrupt(const std::vector<std::uint8_t>& report);
    // While false, the server reads nothing from the connection, so the
    // host's writes back up (tests of the send timeout).
    void SetReading(bool reading) { reading_ = reading; }

    int Connections() const { return connections_.load(); }
    int BackChannels() const { return back_channels_.load(); }
    bool Connected() const { return connected_.load(); }
    std::uint64_t BytesReceived() const { return bytes_received_.load(); }

private:
    void Run();
    void Serve(int connection, const sockaddr_in& peer);
    int ConnectBack(const sockaddr_in& peer);
    bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes);
    void CloseBackChannel();

    NetworkOptions options_;
    Consumer consumer_;
    int listener_ = -1;
    Wakeup stop_;
    std::thread worker_;
    std::mutex mutex_;
    int back_channel_ = -1; // guarded by mutex_
    std::atomic<bool> reading_{true};
    std::atomic<bool> connected_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> back_channels_{0};
    std::atomic<std::uint64_t> bytes_received_{0};
};

} // namespace QelSim
