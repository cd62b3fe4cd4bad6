#include "sim/Frame.h"

#include <algorithm>

namespace QelSim {

namespace {

constexpr std::size_t kHeaderSize = 7;
constexpr std::size_t kCrcSize = 2;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendCrc(std::vector<std::uint8_t>& out) {
    PutLe16(out, Crc16(out));
}

bool IsHostId(std::uint8_t byte) { return byte == 1 || byte == 4; }

}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : bytes) {
        crc ^= static_cast<std::uint32_t>(b) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x10000) crc = (crc ^ 0x8005) & 0xFFFF;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

std::uint8_t HostFrame::ReportType() const {
    const std::uint8_t nibble = hdr & 0x0F;
    if (id == 1 && nibble == 0 && context == 1) return 0x20;
    return static_cast<std::uint8_t>((id == 4 ? 0x10 : 0x00) | nibble);
}

std::vector<HostFrame> HostFrameDecoder::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<HostFrame> frames;
    for (std::uint8_t byte : bytes) {
        if (pending_.empty() && !IsHostId(byte)) {
            ++skipped_;
            continue;
        }
        pending_.push_back(byte);
        if (pending_.size() < kHeaderSize) continue;

        const bool read = (pending_[1] & kReadFlag) != 0;
        const std::uint16_t len = Le16(&pending_[3]);
        // A host never puts more than 64 payload bytes on the wire, whatever LEN says.
        const std::size_t payload_size = read ? 0 : std::min<std::size_t>(len, kMaxHostPayload);
        const std::size_t total = kHeaderSize + payload_size + kCrcSize;
        if (pending_.size() < total) continue;

        HostFrame frame;
        frame.id = pending_[0];
        frame.hdr = pending_[1];
        frame.context = pending_[2];
        frame.len = len;
        frame.addr = Le16(&pending_[5]);
        frame.payload.assign(pending_.begin() + kHeaderSize, pending_.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + payload_size));
        const std::uint16_t received = Le16(&pending_[kHeaderSize + payload_size]);
        frame.crc_ok = received == Crc16(std::span(pending_).first(kHeaderSize + payload_size));
        frames.push_back(std::move(frame));
        pending_.clear();
    }
    return frames;
}

std::vector<std::uint8_t> EncodeDeviceFrame(const DeviceFrame& frame) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + frame.payload.size() + kCrcSize);
    out.push_back(frame.id);
    out.push_back(frame.hdr);
    out.push_back(frame.context);
    PutLe16(out, static_cast<std::uint16_t>(frame.payload.size()));
    PutLe16(out, frame.addr);
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    AppendCrc(out);
    return out;
}

std::vector<std::uint8_t> EncodeHostFrame(std::uint8_t id, std::uint8_t hdr, std::uint8_t context,
                                          std::uint16_t len, std::uint16_t addr,
                                          std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out{id, hdr, context};
    PutLe16(out, len);
    PutLe16(out, addr);
    if ((hdr & kReadFlag) == 0) {
        const std::size_t n = std::min(payload.size(), kMaxHostPayload);
        out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    }
    AppendCrc(out);
    return out;
}

std::optional<DeviceFrame> DecodeDeviceFrame(std::span<const std::uint8_t> bytes, std::size_t* consumed) {
    if (bytes.size() < kHeaderSize + kCrcSize) return std::nullopt;
    const std::size_t len = Le16(&bytes[3]);
    const std::size_t total = kHeaderSize + len + kCrcSize;
    if (bytes.size() < total) return std::nullopt;
    if (Le16(&bytes[kHeaderSize + len]) != Crc16(bytes.first(kHeaderSize + len))) return std::nullopt;
    DeviceFrame frame;
    frame.id = bytes[0];
    frame.hdr = bytes[1];
    frame.context = bytes[2];
    frame.addr = Le16(&bytes[5]);
    frame.payload.assign(bytes.begin() + kHeaderSize, bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + len));
    if (consumed) *consumed = total;
    return frame;
}

}  // namespace QelSim
