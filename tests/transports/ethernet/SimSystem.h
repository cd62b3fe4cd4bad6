// A simulated system on a test network: a QelSim::Device behind the network
// front end, started inside a device namespace, with optional shaping of the
// device's answers (split into small pieces, joined, delayed).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "NetNs.h"
#include "sim/Device.h"
#include "sim/network/NetworkFrontEnd.h"

namespace QelTest {

struct AnswerShaping {
    std::size_t split_chunk = 0;                // > 0: each answer goes out in pieces this big
    std::chrono::milliseconds split_gap{3};     // between the pieces
    bool join_first_pair = false;               // the first two answers leave in one write
    std::chrono::milliseconds delay{0};         // before every answer
};

class SimSystem {
public:
    SimSystem(const NetNs& ns, const QelSim::NetworkOptions& options, AnswerShaping shaping = {},
              QelSim::Profile profile = QelSim::DefaultProfile())
        : shaping_(shaping), device_(std::move(profile))
    {
        front_end_ = std::make_unique<QelSim::NetworkFrontEnd>(
            options, [this](std::span<const std::uint8_t> bytes) { return Consume(bytes); });
        ScopedNetNs inside(ns); // its sockets and threads live in the device's namespace
        std::string error;
        if (!front_end_->Start(error)) throw std::runtime_error("simulated system: " + error);
    }
    ~SimSystem() { front_end_->Stop(); }

    QelSim::NetworkFrontEnd& FrontEnd() { return *front_end_; }

private:
    std::vector<QelSim::NetReply> Consume(std::span<const std::uint8_t> bytes)
    {
        std::lock_guard lock(mutex_);
        std::vector<QelSim::NetReply> replies;
        for (QelSim::Output& output : device_.Consume(bytes)) {
            const auto delay = output.delay + shaping_.delay;
            if (shaping_.join_first_pair && joined_ < 2) {
                held_.insert(held_.end(), output.bytes.begin(), output.bytes.end());
                if (++joined_ == 2) replies.push_back({std::move(held_), delay});
                continue;
            }
            if (shaping_.split_chunk == 0) {
                replies.push_back({std::move(output.bytes), delay});
                continue;
            }
            for (std::size_t at = 0; at < output.bytes.size(); at += shaping_.split_chunk) {
                const auto end = std::min(output.bytes.size(), at + shaping_.split_chunk);
                replies.push_back({std::vector<std::uint8_t>(output.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                             output.bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                                   at == 0 ? delay : shaping_.split_gap});
            }
        }
        return replies;
    }

    AnswerShaping shaping_;
    std::mutex mutex_;
    QelSim::Device device_;
    int joined_ = 0;
    std::vector<std::uint8_t> held_;
    std::unique_ptr<QelSim::NetworkFrontEnd> front_end_;
};

} // namespace QelTest
