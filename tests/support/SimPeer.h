// SimPeer: the simulated Qel System as the device side of the loopback test
// transport, so library code can be tested end to end in memory.
//
// OnHostBytes runs on the transport's sender thread while a test may inspect
// or reconfigure the device from its own thread: one mutex guards the device,
// and WithDevice runs the test's function under it (that function must not
// call back into the peer). The device answers exactly as QelSim::Device does;
// faults are the device's own switches.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "LoopbackTransport.h"
#include "sim/Device.h"

namespace QelTest {

class SimPeer : public IPeer {
public:
    explicit SimPeer(QelSim::Profile profile = QelSim::DefaultProfile(), QelSim::Faults faults = {},
                     QelSim::Device::Clock clock = {});

    std::vector<PeerReply> OnHostBytes(const std::vector<std::uint8_t>& bytes) override;

    void SetFaults(const QelSim::Faults& faults);
    QelSim::Counters Counters() const;

    // Runs `f(device)` under the peer's lock and returns its result.
    template <class F>
    auto WithDevice(F&& f) {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::forward<F>(f)(device_);
    }

private:
    mutable std::mutex mutex_;  // guards device_
    QelSim::Device device_;
};

}  // namespace QelTest
