#include "sim/Device.h"

#include <algorithm>

namespace QelSim {

namespace {

// Register reads answer exactly the number of bytes asked for.
std::vector<std::uint8_t> Fit(std::vector<std::uint8_t> value, std::size_t length) {
    value.resize(length, 0x00);
    return value;
}

std::vector<std::uint8_t> Le(std::uint32_t value, int bytes) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
    return out;
}

std::vector<std::uint8_t> VersionBytes(const FirmwareVersion& version) {
    std::vector<std::uint8_t> out;
    for (std::uint16_t word : version.Words()) {
        const auto bytes = Le(word, 2);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

constexpr std::size_t kMemoryBlockSize = 64;

}  // namespace

Device::Device(Profile profile, Faults faults, Clock clock)
    : profile_(std::move(profile)),
      faults_(std::move(faults)),
      clock_(clock ? std::move(clock) : Clock{[] { return std::chrono::steady_clock::now(); }}),
      programmer_(profile_, faults_.upgrade_error, faults_.buffer_size.value_or(profile_.timing.buffer_size)),
      eeprom_(kEepromSize, 0xFF) {
    const std::vector<std::uint8_t> table = EncodeEepromTable(profile_.eeprom, profile_.synth_magic);
    std::copy(table.begin(), table.end(), eeprom_.begin() + kEepromTableAddress);
}

void Device::SetFaults(const Faults& faults) {
    faults_ = faults;
    programmer_.Configure(faults_.upgrade_error, faults_.buffer_size.value_or(profile_.timing.buffer_size));
}

std::vector<Output> Device::Consume(std::span<const std::uint8_t> bytes) {
    std::vector<Output> out;
    const std::vector<HostFrame> frames = decoder_.Feed(bytes);
    if (frames.empty()) return out;
    const auto now = clock_();
    for (const HostFrame& frame : frames) {
        ++counters_.messages;
        const std::uint8_t type = frame.ReportType();
        ++counters_.by_type[type];
        if (type == 0x20 && frame.IsRead() && frame.addr == 0) ++counters_.status_polls;
        if (faults_.silent_from_message && counters_.messages >= *faults_.silent_from_message) silent_ = true;
        if (faults_.silent_from_status_poll && counters_.status_polls >= *faults_.silent_from_status_poll) silent_ = true;
        // A unit that has stopped answering has stopped listening too.
        if (silent_) {
            ++counters_.silenced;
            continue;
        }
        if (!frame.crc_ok) {
            ++counters_.bad_crc;
            Emit(frame, Answer{true, {}}, out);
            continue;
        }
        Emit(frame, Handle(frame, type, now), out);
    }
    return out;
}

void Device::Emit(const HostFrame& frame, const Answer& answer, std::vector<Output>& out) {
    ++counters_.answers;
    if (answer.rejected) ++counters_.rejected;
    if (faults_.drop_every != 0 && counters_.answers % faults_.drop_every == 0) {
        ++counters_.dropped;
        return;
    }
    DeviceFrame reply;
    reply.id = answer.rejected ? kIdRejected : (frame.IsRead() ? kIdData : kIdAcknowledge);
    reply.hdr = static_cast<std::uint8_t>((answer.rejected ? kHdrRejected : kHdrAcknowledge) | (frame.hdr & 0x0F));
    if (faults_.interlock) reply.hdr |= kHdrInterlock;
    if (faults_.fault_bit) reply.hdr |= kHdrFault;
    reply.context = frame.context;
    reply.addr = frame.addr;
    reply.payload = answer.payload;

    Output output;
    output.bytes = faults_.garbage_before;
    const std::vector<std::uint8_t> encoded = EncodeDeviceFrame(reply);
    output.bytes.insert(output.bytes.end(), encoded.begin(), encoded.end());
    if (faults_.bad_crc_every != 0 && counters_.answers % faults_.bad_crc_every == 0) output.bytes.back() ^= 0xFF;
    output.delay = faults_.answer_delay;
    out.push_back(std::move(output));
}

Device::Answer Device::Handle(const HostFrame& frame, std::uint8_t type, std::chrono::steady_clock::time_point now) {
    switch (type) {
    case 0x11: return Controller(frame);
    case 0x07: return Synthesiser(frame);
    case 0x15: return FileSystem(frame);
    case 0x12:
    case 0x14: return MemoryTransfer(frame);
    case 0x13:
        if (!frame.IsRead()) return Answer{true, {}};
        return Answer{false, Fit(std::vector<std::uint8_t>(profile_.serial.begin(), profile_.serial.end()), frame.len)};
    case 0x02: return EepromAccess(frame);
    case 0x19: return Answer{};  // closing report
    case 0x20:
        if (!profile_.upgrade_channel) return Answer{true, {}};
        return UpgradeChannel(frame, now);
    default: return Answer{true, {}};
    }
}

Device::Answer Device::Controller(const HostFrame& frame) {
    if (!frame.IsRead()) return Answer{true, {}};
    switch (frame.addr) {
    case 0: return Answer{false, Fit(Le(profile_.controller_magic, 2), frame.len)};
    case 5: return Answer{false, Fit(VersionBytes(profile_.controller_version), frame.len)};
    case 48: return Answer{false, Fit(Le(profile_.single_image_points, 2), frame.len)};
    case 56:
        return Answer{false, Fit(std::vector<std::uint8_t>(profile_.single_image_uuid.begin(), profile_.single_image_uuid.end()), frame.len)};
    default: return Answer{true, {}};
    }
}

Device::Answer Device::Synthesiser(const HostFrame& frame) {
    if (!frame.IsRead()) return Answer{true, {}};
    switch (frame.addr) {
    case 0: return Answer{false, Fit(Le(profile_.synth_magic, 2), frame.len)};
    case 5: return Answer{false, Fit(VersionBytes(profile_.synth_version), frame.len)};
    default: return Answer{true, {}};
    }
}

Device::Answer Device::FileSystem(const HostFrame& frame) {
    if (!frame.IsRead()) return Answer{true, {}};
    if (frame.context == 4 && frame.addr == 0)
        return Answer{false, Fit(Le(static_cast<std::uint32_t>(profile_.file_system.size()), 2), frame.len)};
    if (frame.context == 2) {
        if (frame.addr < profile_.file_system.size()) return Answer{false, Fit(profile_.file_system[frame.addr].Bytes(), frame.len)};
        // Past the table the same request is a memory-transfer set-up: accepted.
        return Answer{};
    }
    return Answer{true, {}};
}

Device::Answer Device::MemoryTransfer(const HostFrame& frame) {
    if (frame.ReportType() == 0x14) return Answer{};  // chunk set-up
    const std::uint32_t index = static_cast<std::uint32_t>(frame.context) << 16 | frame.addr;
    if (frame.IsRead()) return Answer{false, Fit(MemoryBlock(index), frame.len)};
    std::vector<std::uint8_t>& block = memory_[index];
    block.assign(kMemoryBlockSize, 0x00);
    std::copy_n(frame.payload.begin(), std::min(frame.payload.size(), kMemoryBlockSize), block.begin());
    return Answer{};
}

Device::Answer Device::EepromAccess(const HostFrame& frame) {
    const std::size_t address = static_cast<std::size_t>(frame.context) << 16 | frame.addr;
    if (frame.IsRead()) {
        if (address + frame.len > eeprom_.size()) return Answer{true, {}};
        return Answer{false, Eeprom(static_cast<std::uint32_t>(address), frame.len)};
    }
    if (address + frame.payload.size() > eeprom_.size()) return Answer{true, {}};
    std::copy(frame.payload.begin(), frame.payload.end(), eeprom_.begin() + static_cast<std::ptrdiff_t>(address));
    ++counters_.eeprom_writes;
    return Answer{};
}

Device::Answer Device::UpgradeChannel(const HostFrame& frame, std::chrono::steady_clock::time_point now) {
    if (!frame.IsRead()) {
        if (frame.addr == 0) {
            if (frame.payload.empty() || !programmer_.Command(frame.payload[0], now)) return Answer{true, {}};
            return Answer{};
        }
        if (frame.addr == 1) {
            ++counters_.data_blocks;
            if (programmer_.Data(frame.payload, now) == FlashProgrammer::DataResult::Refused) return Answer{true, {}};
            return Answer{};
        }
        return Answer{true, {}};
    }
    switch (frame.addr) {
    case 0: {
        const auto status = programmer_.Status(now);
        return Answer{false, Fit(std::vector<std::uint8_t>(status.begin(), status.end()), frame.len)};
    }
    case 1: return Answer{false, Fit(Le(programmer_.FreeSpace(now), 2), frame.len)};
    case 2:
        switch (faults_.image_size) {
        case ImageSizeFault::Rejected: return Answer{true, {}};
        case ImageSizeFault::Zero: return Answer{false, Fit(Le(0, 4), frame.len)};
        case ImageSizeFault::None: break;
        }
        return Answer{false, Fit(Le(programmer_.ImageSize(), 4), frame.len)};
    default: return Answer{true, {}};
    }
}

std::vector<std::uint8_t> Device::Eeprom(std::uint32_t address, std::size_t length) const {
    if (address >= eeprom_.size()) return {};
    const std::size_t end = std::min(eeprom_.size(), static_cast<std::size_t>(address) + length);
    return std::vector<std::uint8_t>(eeprom_.begin() + address, eeprom_.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<std::uint8_t> Device::MemoryBlock(std::uint32_t index) const {
    const auto found = memory_.find(index);
    if (found == memory_.end()) return std::vector<std::uint8_t>(kMemoryBlockSize, 0x00);
    return found->second;
}

}  // namespace QelSim
