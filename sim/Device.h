// A simulated Qel System: a controller and its synthesiser answering the
// host's reports as the real units do, with the controller's side of the
// firmware upgrade, the synthesiser's EEPROM, the file-system table and
// switchable faults.
//
// Consume takes host bytes, split or joined anyhow, and returns the answers
// they caused, in order: every report gets exactly one answer (writes an
// empty acknowledge) unless a fault suppresses it. A host report with a bad
// CRC is answered Rejected so the host's in-order matching holds; anything
// the device does not know is answered Rejected too.
// No threads and no locks: one thread at a time (wrappers that share a
// Device between threads lock around it). The clock is injectable for tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "sim/Faults.h"
#include "sim/FlashProgrammer.h"
#include "sim/Frame.h"
#include "sim/Profile.h"

namespace QelSim {

struct Output {
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds delay{0};
};

struct Counters {
    std::uint64_t messages = 0;        // host reports decoded, bad CRC included
    std::uint64_t bad_crc = 0;         // host reports whose CRC did not match
    std::uint64_t answers = 0;         // answers produced (before drops)
    std::uint64_t dropped = 0;         // answers lost to drop_every
    std::uint64_t silenced = 0;        // reports left unanswered by a silence fault
    std::uint64_t rejected = 0;        // Rejected answers
    std::uint64_t status_polls = 0;    // upgrade-channel status reads
    std::uint64_t data_blocks = 0;     // upgrade-channel data writes
    std::uint64_t eeprom_writes = 0;   // EEPROM write reports
    std::map<std::uint8_t, std::uint64_t> by_type;  // report type -> count
};

class Device {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::size_t kEepromSize = 8192;

    // An empty clock means std::chrono::steady_clock::now.
    explicit Device(Profile profile, Faults faults = {}, Clock clock = {});

    std::vector<Output> Consume(std::span<const std::uint8_t> bytes);

    // Faults may be switched between calls (counts keep running).
    void SetFaults(const Faults& faults);
    const Faults& GetFaults() const { return faults_; }

    const Profile& GetProfile() const { return profile_; }
    const Counters& GetCounters() const { return counters_; }
    std::uint64_t SkippedBytes() const { return decoder_.SkippedBytes(); }
    const FlashProgrammer& Programmer() const { return programmer_; }
    const std::vector<std::uint8_t>& Flash() const { return programmer_.Flash(); }
    // EEPROM bytes [address, address + length), clipped to the EEPROM.
    std::vector<std::uint8_t> Eeprom(std::uint32_t address, std::size_t length) const;
    std::vector<std::uint8_t> EepromTableArea() const { return Eeprom(kEepromTableAddress, kEepromTableArea); }
    // Memory-transfer block `index` (64 bytes; zeros when never written).
    std::vector<std::uint8_t> MemoryBlock(std::uint32_t index) const;

private:
    struct Answer {
        bool rejected = false;
        std::vector<std::uint8_t> payload;
    };

    Answer Handle(const HostFrame& frame, std::uint8_t type, std::chrono::steady_clock::time_point now);
    Answer Controller(const HostFrame& frame);
    Answer Synthesiser(const HostFrame& frame);
    Answer FileSystem(const HostFrame& frame);
    Answer MemoryTransfer(const HostFrame& frame);
    Answer EepromAccess(const HostFrame& frame);
    Answer UpgradeChannel(const HostFrame& frame, std::chrono::steady_clock::time_point now);
    void Emit(const HostFrame& frame, const Answer& answer, std::vector<Output>& out);

    Profile profile_;
    Faults faults_;
    Clock clock_;
    HostFrameDecoder decoder_;
    FlashProgrammer programmer_;
    std::vector<std::uint8_t> eeprom_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> memory_;
    Counters counters_;
    bool silent_ = false;  // a silence fault has struck: nothing is answered any more
};

}  // namespace QelSim
