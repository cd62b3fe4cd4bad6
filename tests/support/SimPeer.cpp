#include "SimPeer.h"

namespace QelTest {

SimPeer::SimPeer(QelSim::Profile profile, QelSim::Faults faults, QelSim::Device::Clock clock)
    : device_(std::move(profile), std::move(faults), std::move(clock)) {}

std::vector<PeerReply> SimPeer::OnHostBytes(const std::vector<std::uint8_t>& bytes) {
    std::vector<QelSim::Output> outputs;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outputs = device_.Consume(bytes);
    }
    std::vector<PeerReply> replies;
    replies.reserve(outputs.size());
    for (QelSim::Output& output : outputs) replies.push_back(PeerReply{std::move(output.bytes), output.delay});
    return replies;
}

void SimPeer::SetFaults(const QelSim::Faults& faults) {
    std::lock_guard<std::mutex> guard(mutex_);
    device_.SetFaults(faults);
}

QelSim::Counters SimPeer::Counters() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return device_.GetCounters();
}

}  // namespace QelTest
