// Shared fixture of the CM_ENET tests: a host namespace that the test thread
// enters, device namespaces with simulated systems, and a manager with short
// waits.
#pragma once

#include <gtest/gtest.h>

#include <boost/log/core.hpp>

#include <memory>
#include <vector>

#include "EventRecorder.h"
#include "Network.h"
#include "SimSystem.h"
#include "transports/ethernet/CM_ENET.h"

namespace QelTest {

class EnetFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ProcessIsolated()) << IsolationError();
        boost::log::core::get()->set_logging_enabled(false);
    }

    void TearDown() override
    {
        if (manager_) {
            manager_->Disconnect();
            recorder_.UnsubscribeAll(*manager_);
            manager_.reset();
        }
        inside_.reset();
        sims_.clear();
    }

    static Qel::EnetTimings ShortTimings()
    {
        Qel::EnetTimings timings;
        timings.back_channel_wait = std::chrono::milliseconds(1000);
        timings.discovery_wait = std::chrono::milliseconds(300);
        timings.tftp_timeout = std::chrono::milliseconds(500);
        return timings;
    }

    // Builds the network, then enters the host namespace.
    void BuildNetwork(int devices)
    {
        inside_.reset();
        network_.reset(); // its namespaces' names are about to be used again
        network_ = std::make_unique<Network>(devices);
        inside_ = std::make_unique<ScopedNetNs>(network_->Host());
    }

    SimSystem& AddSystem(int device, QelSim::NetworkOptions options, AnswerShaping shaping = {})
    {
        options.address = network_->Device(device).device_address;
        options.requested_ip = options.address;
        // Quick to repeat a packet, slow to give up: a loaded machine can
        // starve the client for a second.
        options.tftp_timeout = std::chrono::milliseconds(200);
        options.tftp_retries = 25;
        sims_.push_back(std::make_unique<SimSystem>(*network_->Device(device).ns, options, shaping));
        return *sims_.back();
    }

    static QelSim::NetworkOptions Serial(const std::string& serial)
    {
        QelSim::NetworkOptions options;
        options.serial_number = serial;
        return options;
    }

    Qel::CM_ENET& Manager(const Qel::EnetTimings& timings = ShortTimings())
    {
        if (!manager_) {
            manager_ = std::make_unique<Qel::CM_ENET>(timings);
            recorder_.SubscribeAll(*manager_);
        }
        return *manager_;
    }

    // Discovery's unit list only, without connecting to any unit.
    std::vector<Qel::DiscoveredUnit> Units(const std::vector<std::string>& filter = {})
    {
        std::vector<Qel::DiscoveredUnit> units;
        EXPECT_TRUE(Qel::BroadcastDiscovery(filter, std::chrono::milliseconds(300), units));
        return units;
    }

    std::unique_ptr<Network> network_;
    std::vector<std::unique_ptr<SimSystem>> sims_;
    std::unique_ptr<ScopedNetNs> inside_;
    EventRecorder recorder_;
    std::unique_ptr<Qel::CM_ENET> manager_;
};

} // namespace QelTest
