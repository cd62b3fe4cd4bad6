// The small value types of a firmware upgrade run: the device's status and
// error bytes, the command codes of the upgrade channel, the ten event ids
// and the trigger that carries them.
//
// Status and error records are plain bytes with named masks; they are read
// from the engine's atomics by any thread and carry no lock. The trigger, like
// every trigger, takes no lock: subscribe before a run is started and
// unsubscribe only after the run reported done.
#pragma once

#include <cstdint>

#include "messaging/IEventHandler.h"
#include "messaging/IEventTrigger.h"

namespace Qel {

// The third byte of the device's status report: one bit per stage the
// controller has reached. Bit k is announced by event id k + 2.
struct FirmwareUpgradeStatus {
    static constexpr std::uint8_t Started = 0x01;
    static constexpr std::uint8_t InitializeOk = 0x02;
    static constexpr std::uint8_t CheckIdOk = 0x04;
    static constexpr std::uint8_t EnteredUpgradeMode = 0x08;
    static constexpr std::uint8_t EraseOk = 0x10;
    static constexpr std::uint8_t ProgramOk = 0x20;
    static constexpr std::uint8_t VerifyOk = 0x40;
    static constexpr std::uint8_t LeavingUpgradeMode = 0x80;

    std::uint8_t value = 0;

    constexpr bool Has(std::uint8_t mask) const { return (value & mask) == mask; }
    // Image data is accepted only between EraseOk and ProgramOk.
    constexpr bool InProgrammingPhase() const { return Has(EraseOk) && !Has(ProgramOk); }

    friend constexpr bool operator==(FirmwareUpgradeStatus, FirmwareUpgradeStatus) = default;
};

// The fourth byte of the device's status report. StreamError and TimedOut are
// also set by the host: StreamError when the image cannot be read or is
// malformed, TimedOut when the device stops answering. Bits 0x02 and 0x04
// are the device's own and have no name.
struct FirmwareUpgradeErrors {
    static constexpr std::uint8_t StreamError = 0x01;
    static constexpr std::uint8_t FlashIdError = 0x08;
    static constexpr std::uint8_t EraseError = 0x10;
    static constexpr std::uint8_t ProgramError = 0x20;
    static constexpr std::uint8_t TimedOut = 0x40;
    static constexpr std::uint8_t CrcError = 0x80;

    std::uint8_t value = 0;

    constexpr bool Has(std::uint8_t mask) const { return (value & mask) == mask; }

    friend constexpr bool operator==(FirmwareUpgradeErrors, FirmwareUpgradeErrors) = default;
};

// Command bytes written to address 0 of the upgrade channel.
enum class FirmwareUpgradeCommand : std::uint8_t {
    Upgrade = 0,
    Verify = 2,
    Clear = 3,  // first and last command of every run
};

// Event ids of a FirmwareUpgrade. Every event carries the FirmwareUpgrade
// as sender and 0 as parameter (IEventHandler::OnEvent).
struct FirmwareUpgradeEvent {
    enum Id : int {
        Done = 0,
        Error = 1,
        Started = 2,
        InitializeOk = 3,
        CheckIdOk = 4,
        EnteredUpgradeMode = 5,
        EraseOk = 6,
        ProgramOk = 7,
        VerifyOk = 8,
        LeavingUpgradeMode = 9,
    };
    static constexpr int Count = 10;
    // The event announcing status bit k (0..7).
    static constexpr int ForStatusBit(int bit) { return bit + Started; }
};

class FirmwareUpgradeEventTrigger : public IEventTrigger {
public:
    FirmwareUpgradeEventTrigger() { SetEventCount(FirmwareUpgradeEvent::Count); }
    ~FirmwareUpgradeEventTrigger() override = default;
};

}  // namespace Qel
