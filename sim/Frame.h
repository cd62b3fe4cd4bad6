// The simulated device's own frame codec: it cuts host reports out of a byte
// stream and builds device reports. It is deliberately independent of the
// library's report classes so that each checks the other.
//
// Frame: ID, HDR, CONTEXT, LEN (LE), ADDR (LE), payload, CRC-16 (LE) over
// everything before it. Host writes carry min(LEN, 64) payload bytes, host
// reads none. Plain values; one thread uses a decoder at a time. Failures show
// as a HostFrame with crc_ok false, or as skipped bytes counted by the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace QelSim {

// CRC-16, polynomial 0x8005, initial value 0, no reflection, no final XOR.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

inline constexpr std::size_t kMaxHostPayload = 64;
inline constexpr std::uint8_t kReadFlag = 0x80;

struct HostFrame {
    std::uint8_t id = 0;
    std::uint8_t hdr = 0;
    std::uint8_t context = 0;
    std::uint16_t len = 0;
    std::uint16_t addr = 0;
    std::vector<std::uint8_t> payload;  // empty for reads
    bool crc_ok = false;

    bool IsRead() const { return (hdr & kReadFlag) != 0; }
    // (ID 4 ? 0x10 : 0) | type nibble, plus 0x20 for the firmware channel
    // (ID 1, nibble 0, CONTEXT 1); elsewhere CONTEXT is a caller's selector.
    std::uint8_t ReportType() const;
};

// Incremental host-report decoder: bytes may arrive split or joined anyhow.
class HostFrameDecoder {
public:
    // Feeds bytes; returns every frame completed by them, in order.
    std::vector<HostFrame> Feed(std::span<const std::uint8_t> bytes);
    // Bytes that could not start a report (neither ID 1 nor ID 4) and were skipped.
    std::uint64_t SkippedBytes() const { return skipped_; }

private:
    std::vector<std::uint8_t> pending_;  // bytes of the frame being assembled
    std::uint64_t skipped_ = 0;
};

// Device HDR bits.
inline constexpr std::uint8_t kHdrInterlock = 0x80;
inline constexpr std::uint8_t kHdrAcknowledge = 0x40;
inline constexpr std::uint8_t kHdrRejected = 0x20;  // with the acknowledge bit clear
inline constexpr std::uint8_t kHdrFault = 0x10;

// Device report IDs.
inline constexpr std::uint8_t kIdRejected = 0x02;
inline constexpr std::uint8_t kIdData = 0x05;
inline constexpr std::uint8_t kIdAcknowledge = 0x49;

struct DeviceFrame {
    std::uint8_t id = kIdAcknowledge;
    std::uint8_t hdr = kHdrAcknowledge;
    std::uint8_t context = 0;
    std::uint16_t addr = 0;
    std::vector<std::uint8_t> payload;  // LEN is its size
};

// Wire bytes of a device report with its CRC.
std::vector<std::uint8_t> EncodeDeviceFrame(const DeviceFrame& frame);

// Wire bytes of a host report (for tests and scripted hosts): writes carry
// the payload, reads carry none and `len` is the count asked for.
std::vector<std::uint8_t> EncodeHostFrame(std::uint8_t id, std::uint8_t hdr, std::uint8_t context,
                                          std::uint16_t len, std::uint16_t addr,
                                          std::span<const std::uint8_t> payload = {});

// Decodes exactly one device report from the front of `bytes` (for tests);
// empty when the bytes do not hold a whole frame with a good CRC.
std::optional<DeviceFrame> DecodeDeviceFrame(std::span<const std::uint8_t> bytes, std::size_t* consumed = nullptr);

}  // namespace QelSim
