// A simulated Qel System behind the loopback test transport, for the EEPROM
// and identity tests. The peer hands every host report to the SimPeer, except
// the ones a test chooses to leave unanswered or to answer itself (the
// device model has no switch for one silent register).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "LoopbackTransport.h"
#include "SimPeer.h"
#include "discovery/QELSystem.h"
#include "sim/Device.h"

namespace QelTest {

// The header of one host report as the device sees it.
struct HostRequest {
    std::uint8_t type = 0;  // (ID 4 ? 0x10 : 0) | HDR low nibble
    bool read = false;
    std::uint8_t context = 0;
    std::uint16_t len = 0;
    std::uint16_t addr = 0;
    std::vector<std::uint8_t> payload;

    static std::optional<HostRequest> Parse(const std::vector<std::uint8_t>& bytes) {
        if (bytes.size() < 9) {
            return std::nullopt;
        }
        HostRequest r;
        r.type = static_cast<std::uint8_t>(((bytes[0] == 4) ? 0x10 : 0x00) | (bytes[1] & 0x0F));
        r.read = (bytes[1] & 0x80) != 0;
        r.context = bytes[2];
        r.len = static_cast<std::uint16_t>(bytes[3] | (bytes[4] << 8));
        r.addr = static_cast<std::uint16_t>(bytes[5] | (bytes[6] << 8));
        r.payload.assign(bytes.begin() + 7, bytes.end() - 2);
        return r;
    }
};

class FilteringSimPeer : public IPeer {
public:
    // Answers a request itself: nullopt passes it to the device; an empty
    // vector leaves it unanswered.
    using Override = std::function<std::optional<std::vector<PeerReply>>(const HostRequest&)>;

    explicit FilteringSimPeer(QelSim::Profile profile, QelSim::Faults faults = {})
        : inner_(std::move(profile), std::move(faults)) {}

    void SetOverride(Override override_fn) {
        std::lock_guard<std::mutex> guard(mutex_);
        override_ = std::move(override_fn);
    }

    // Runs `f` on the simulated device under the SimPeer's lock.
    template <class F>
    auto WithDevice(F&& f) {
        return inner_.WithDevice(std::forward<F>(f));
    }

    std::vector<HostRequest> Requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }

    std::vector<PeerReply> OnHostBytes(const std::vector<std::uint8_t>& bytes) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            const std::optional<HostRequest> request = HostRequest::Parse(bytes);
            if (request) {
                requests_.push_back(*request);
                if (override_) {
                    if (auto answer = override_(*request)) {
                        return *answer;
                    }
                }
            }
        }
        return inner_.OnHostBytes(bytes);
    }

private:
    SimPeer inner_;
    mutable std::mutex mutex_;  // guards the two below
    Override override_;
    std::vector<HostRequest> requests_;
};

// A connected loopback transport to a simulated system, and a system record
// for it. Short times so that unanswered requests end quickly.
struct SimBench {
    explicit SimBench(QelSim::Profile profile, QelSim::Faults faults = {},
                      LoopbackTimes times = LoopbackTimes{500, 300, 30000})
        : peer(std::make_shared<FilteringSimPeer>(std::move(profile), std::move(faults))),
          transport(std::make_unique<LoopbackTransport>(peer, times)),
          system(transport.get(), "SIM:loopback") {
        system.Connect();
    }
    ~SimBench() { transport->Disconnect(); }

    // Frames of one report type (ID, HDR low nibble) the host wrote, in order.
    std::vector<HostRequest> RequestsOfType(std::uint8_t type) const {
        std::vector<HostRequest> out;
        for (const HostRequest& r : peer->Requests()) {
            if (r.type == type) {
                out.push_back(r);
            }
        }
        return out;
    }

    std::shared_ptr<FilteringSimPeer> peer;
    std::unique_ptr<LoopbackTransport> transport;
    Qel::QELSystem system;
};

}  // namespace QelTest
