// Helpers shared by the upgrade engine tests: system records, an event
// recorder, a bounded wait, and a decoder of the frames the host wrote.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/QELSystem.h"
#include "messaging/IEventHandler.h"

namespace UpgradeTest {

// A system whose records the engine accepts (or not, as asked).
inline Qel::QELSystem MakeSystem(Qel::IConnectionManager* manager, bool remote_upgrade = true,
                                 bool controller_valid = true, bool synthesiser_valid = true) {
    Qel::QELSystem system(manager, "SIM0001:test");
    Qel::ControllerCaps controller_caps;
    controller_caps.RemoteUpgrade = remote_upgrade;
    Qel::SynthCaps synth_caps;
    synth_caps.RemoteUpgrade = remote_upgrade;
    if (controller_valid) {
        system.Controller() = Qel::QELController("ULIX3", "Controller", controller_caps, {}, {});
    }
    if (synthesiser_valid) {
        system.Synthesiser() = Qel::QELSynthesiser("ULIX3", "Synthesiser", synth_caps, {}, {}, nullptr);
    }
    return system;
}

// Records event ids in arrival order; raised on the engine's worker thread.
class EventRecorder : public Qel::IEventHandler {
public:
    void OnEvent(void* sender, int event, int param) override {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
        senders_ok_ = senders_ok_ && sender == expected_sender_ && param == 0;
        if (on_event_) on_event_(event);
    }
    void ExpectSender(void* sender) { expected_sender_ = sender; }
    void SetCallback(std::function<void(int)> callback) { on_event_ = std::move(callback); }
    std::vector<int> Events() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }
    bool SendersOk() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return senders_ok_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> events_;
    void* expected_sender_ = nullptr;
    bool senders_ok_ = true;
    std::function<void(int)> on_event_;
};

// Polls `condition` every 5 ms until it holds or `bound` passes.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds bound = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A host frame of the upgrade channel, as the device sees it.
struct UpgradeFrame {
    enum class Kind { Command, Block, StatusRead, FreeSpaceRead, ImageSizeRead, Other } kind = Kind::Other;
    std::uint8_t command = 0xFF;
    std::vector<std::uint8_t> data;
};

inline UpgradeFrame Classify(const std::vector<std::uint8_t>& frame) {
    UpgradeFrame out;
    if (frame.size() < 9) return out;
    const std::uint8_t id = frame[0];
    const std::uint8_t hdr = frame[1];
    const std::uint8_t context = frame[2];
    const std::size_t len = frame[3] | (frame[4] << 8);
    const std::uint16_t addr = static_cast<std::uint16_t>(frame[5] | (frame[6] << 8));
    if (id != 1 || (hdr & 0x0F) != 0 || context != 1) return out;
    if (hdr & 0x80) {
        out.kind = addr == 0 ? UpgradeFrame::Kind::StatusRead
                 : addr == 1 ? UpgradeFrame::Kind::FreeSpaceRead
                 : addr == 2 ? UpgradeFrame::Kind::ImageSizeRead
                             : UpgradeFrame::Kind::Other;
        return out;
    }
    if (frame.size() < 9 + len) return out;
    out.data.assign(frame.begin() + 7, frame.begin() + 7 + static_cast<std::ptrdiff_t>(len));
    if (addr == 0 && len == 1) {
        out.kind = UpgradeFrame::Kind::Command;
        out.command = out.data[0];
    } else if (addr == 1) {
        out.kind = UpgradeFrame::Kind::Block;
    }
    return out;
}

// One letter per frame: C<code> command, B<size> block, S status read,
// F free-space read, I image-size read, ? anything else.
inline std::string Trace(const std::vector<std::vector<std::uint8_t>>& frames) {
    std::string text;
    for (const auto& frame : frames) {
        const UpgradeFrame f = Classify(frame);
        switch (f.kind) {
            case UpgradeFrame::Kind::Command: text += "C" + std::to_string(f.command) + " "; break;
            case UpgradeFrame::Kind::Block: text += "B" + std::to_string(f.data.size()) + " "; break;
            case UpgradeFrame::Kind::StatusRead: text += "S "; break;
            case UpgradeFrame::Kind::FreeSpaceRead: text += "F "; break;
            case UpgradeFrame::Kind::ImageSizeRead: text += "I "; break;
            case UpgradeFrame::Kind::Other: text += "? "; break;
        }
    }
    return text;
}

}  // namespace UpgradeTest
