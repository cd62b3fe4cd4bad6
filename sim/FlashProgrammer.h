// The controller's side of the firmware upgrade: command, status, free-space,
// image-size and data registers of the upgrade channel, the receive buffer,
// the flash and the check of the programmed image.
//
// Time-based: every call passes the current monotonic time, and the status
// bits advance from it (each phase after the previous one's time). Plain
// value, no locks, one thread at a time (the Device's caller). Device-side
// failures are reported through the status registers, as the real unit does.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/Profile.h"

namespace QelSim {

namespace UpgradeCommand {
inline constexpr std::uint8_t Upgrade = 0;
inline constexpr std::uint8_t Verify = 2;
inline constexpr std::uint8_t Clear = 3;
}  // namespace UpgradeCommand

namespace UpgradeStatus {
inline constexpr std::uint8_t Started = 0x01;
inline constexpr std::uint8_t InitializeOk = 0x02;
inline constexpr std::uint8_t CheckIdOk = 0x04;
inline constexpr std::uint8_t EnteredUpgradeMode = 0x08;
inline constexpr std::uint8_t EraseOk = 0x10;
inline constexpr std::uint8_t ProgramOk = 0x20;
inline constexpr std::uint8_t VerifyOk = 0x40;
inline constexpr std::uint8_t LeavingUpgradeMode = 0x80;
}  // namespace UpgradeStatus

namespace UpgradeError {
inline constexpr std::uint8_t StreamError = 0x01;
inline constexpr std::uint8_t FlashIdError = 0x08;
inline constexpr std::uint8_t EraseError = 0x10;
inline constexpr std::uint8_t ProgramError = 0x20;
inline constexpr std::uint8_t TimedOut = 0x40;
inline constexpr std::uint8_t CrcError = 0x80;
}  // namespace UpgradeError

class FlashProgrammer {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    enum class DataResult {
        Accepted,  // taken into the receive buffer (overflow beyond its room is lost)
        Dropped,   // acknowledged and discarded: the programming phase is over
        Refused,   // not in the programming phase
    };

    // `forced_error`: one UpgradeError bit raised at the phase it belongs to
    // (FlashIdError at the ID check, EraseError at the erase, TimedOut on
    // entering the programming phase, ProgramError when programming ends,
    // CrcError at the check); 0 for none.
    FlashProgrammer(const Profile& profile, std::uint8_t forced_error, std::uint32_t buffer_size);

    // Changes the forced error and the buffer size (effective from the next command).
    void Configure(std::uint8_t forced_error, std::uint32_t buffer_size);

    // Command write; false for an unknown command code.
    bool Command(std::uint8_t code, TimePoint now);
    // done, error, status bits, error bits.
    std::array<std::uint8_t, 4> Status(TimePoint now);
    // Room in the receive buffer; 0 outside the programming phase.
    std::uint16_t FreeSpace(TimePoint now);
    std::uint32_t ImageSize() const { return image_size_; }
    DataResult Data(std::span<const std::uint8_t> bytes, TimePoint now);

    const std::vector<std::uint8_t>& Flash() const { return flash_; }
    bool SaveFlash(const std::string& path) const;

    // Observations for tests.
    std::uint64_t BytesReceived() const { return bytes_received_; }  // accepted into the buffer
    std::uint64_t OverflowBytes() const { return overflow_bytes_; }  // sent beyond the free space
    std::uint64_t BytesBeyondImage() const { return beyond_image_; }  // dropped past the image size
    std::uint32_t BytesProgrammed() const { return programmed_; }
    int RunsCompleted() const { return runs_completed_; }

private:
    enum class Step { Idle, Started, InitializeOk, CheckIdOk, EnteredUpgradeMode, EraseOk,
                      Programming, Verifying, Leaving, Finished };

    void Reset();
    void Advance(TimePoint now);
    void Drain(TimePoint now);
    void Fail(std::uint8_t error_bit);
    void Finish();
    bool InProgrammingPhase() const;
    std::chrono::milliseconds StepTime(Step step) const;
    bool ImageMatches() const;

    std::vector<std::uint8_t> expected_;  // padded with zeros to the image size
    bool check_content_ = true;           // false when no image is expected
    std::uint32_t image_size_ = 0;
    UpgradeTiming timing_;
    std::uint8_t forced_error_ = 0;
    std::uint32_t buffer_size_ = 0;
    std::string dump_path_;

    std::vector<std::uint8_t> flash_;
    bool verify_run_ = false;
    Step step_ = Step::Idle;
    TimePoint step_base_{};  // when the current step began
    std::uint8_t done_ = 0;
    std::uint8_t error_ = 0;
    std::uint8_t status_ = 0;
    std::uint8_t errors_ = 0;
    std::vector<std::uint8_t> buffer_;  // received, not yet programmed
    TimePoint last_drain_{};
    std::uint32_t programmed_ = 0;

    std::uint64_t bytes_received_ = 0;
    std::uint64_t overflow_bytes_ = 0;
    std::uint64_t beyond_image_ = 0;
    int runs_completed_ = 0;
};

}  // namespace QelSim
