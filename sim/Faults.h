// Misbehaviour a simulated Qel System can be told to show. All switches are
// off by default; counts are 1-based (message 1 is the first host report).
// Plain value, read by the Device on the caller's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace QelSim {

enum class ImageSizeFault {
    None,
    Rejected,  // the image-size read gets a Rejected answer
    Zero,      // the image-size read answers 0
};

struct Faults {
    // Answer nothing from this host report on (counting every report).
    std::optional<std::uint64_t> silent_from_message;
    // Answer nothing from this status poll of the upgrade channel on.
    std::optional<std::uint64_t> silent_from_status_poll;
    // Every answer is delivered this late.
    std::chrono::milliseconds answer_delay{0};
    // Every Nth answer is lost (0: none).
    std::uint32_t drop_every = 0;
    // These bytes go out before every answer.
    std::vector<std::uint8_t> garbage_before;
    // Every Nth answer carries a wrong CRC (0: none).
    std::uint32_t bad_crc_every = 0;
    // HDR bit 7 (interlock alarm) on every answer.
    bool interlock = false;
    // HDR bit 4 (fault) on every answer.
    bool fault_bit = false;
    // One UpgradeError bit (FlashIdError, EraseError, ProgramError, TimedOut,
    // CrcError) the controller reports at the phase it belongs to; 0 for none.
    std::uint8_t upgrade_error = 0;
    ImageSizeFault image_size = ImageSizeFault::None;
    // A receive buffer this small instead of the profile's.
    std::optional<std::uint32_t> buffer_size;
};

}  // namespace QelSim
