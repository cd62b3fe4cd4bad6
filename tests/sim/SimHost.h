// A scripted host for the device-model tests: builds host reports with the
// model's own codec, feeds them to a Device and decodes the answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "sim/Device.h"
#include "sim/Frame.h"

namespace QelSimTest {

// A report as the host library builds it: type -> ID, HDR nibble, CONTEXT.
inline std::vector<std::uint8_t> Request(std::uint8_t type, bool read, std::uint16_t addr, std::uint16_t len,
                                         std::vector<std::uint8_t> payload = {}, std::optional<std::uint8_t> context = {}) {
    const std::uint8_t id = (type & 0x10) ? 4 : 1;
    const std::uint8_t hdr = static_cast<std::uint8_t>((type & 0x0F) | (read ? 0x80 : 0x00));
    const std::uint8_t ctx = context.value_or((type & 0x20) ? 1 : 0);
    return QelSim::EncodeHostFrame(id, hdr, ctx, len, addr, payload);
}

inline std::vector<std::uint8_t> Read(std::uint8_t type, std::uint16_t addr, std::uint16_t len,
                                      std::optional<std::uint8_t> context = {}) {
    return Request(type, true, addr, len, {}, context);
}

inline std::vector<std::uint8_t> Write(std::uint8_t type, std::uint16_t addr, std::vector<std::uint8_t> payload,
                                       std::optional<std::uint8_t> context = {}) {
    const auto len = static_cast<std::uint16_t>(payload.size());
    return Request(type, false, addr, len, std::move(payload), context);
}

// A clock the test moves by hand.
struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::seconds{1000}};
    QelSim::Device::Clock Function() {
        return [this] { return now; };
    }
    void Advance(std::chrono::milliseconds by) { now += by; }
};

// Sends one report and decodes its single answer; empty when there is none.
inline std::optional<QelSim::DeviceFrame> Ask(QelSim::Device& device, const std::vector<std::uint8_t>& request) {
    const std::vector<QelSim::Output> outputs = device.Consume(request);
    if (outputs.empty()) return std::nullopt;
    EXPECT_EQ(outputs.size(), 1u);
    std::size_t used = 0;
    auto frame = QelSim::DecodeDeviceFrame(outputs.front().bytes, &used);
    EXPECT_TRUE(frame.has_value());
    EXPECT_EQ(used, outputs.front().bytes.size());
    return frame;
}

inline bool IsRejected(const QelSim::DeviceFrame& frame) { return (frame.hdr & 0x60) == 0x20; }
inline bool IsAcknowledged(const QelSim::DeviceFrame& frame) { return (frame.hdr & 0x40) != 0 && (frame.hdr & 0x10) == 0; }

inline std::uint32_t Le(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

}  // namespace QelSimTest
