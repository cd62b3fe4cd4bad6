// Reports: the frame every transport carries between host and device.
//
// A report is a seven-byte header (ID, HDR, CONTEXT, LEN and ADDR, the last two
// little-endian), at most 64 payload bytes and a CRC-16 sent low byte first.
// HostReport builds and serializes requests; DeviceReport rebuilds an answer
// from a byte stream one byte at a time. Reports are plain values without
// locks: one thread uses a report at a time (inside a Message the manager's
// list mutex guards it). Nothing here reports errors: a bad frame shows as
// DECODE_CRC_ERROR or DECODE_UNEXPECTED_CHAR in the decoder's result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace Qel {

// The five header fields as one plain record (the wire carries LEN before ADDR).
struct ReportHeader {
    std::uint8_t ID = 0xFF;
    std::uint8_t HDR = 0x00;
    std::uint8_t CONTEXT = 0x00;
    std::uint16_t LEN = 0;
    std::uint16_t ADDR = 0;

    friend bool operator==(const ReportHeader&, const ReportHeader&) = default;
};

// CRC-16 with polynomial 0x8005, initial value 0, no reflection, no final XOR.
class Crc16 {
public:
    static constexpr std::uint16_t Polynomial = 0x8005;

    Crc16() = default;
    // Builds the CRC over a byte queue and consumes it (the queue is emptied).
    explicit Crc16(std::vector<std::uint8_t>& bytes);

    void Update(std::uint8_t byte);
    void Update(std::span<const std::uint8_t> bytes);
    std::uint16_t Value() const { return value_; }

    static std::uint16_t Compute(std::span<const std::uint8_t> bytes);

private:
    std::uint16_t value_ = 0;
};

enum DecodeResult : int {
    DECODE_IDLE = 0,
    DECODE_UNEXPECTED_CHAR = 1,
    DECODE_IN_PROGRESS = 2,
    DECODE_OK = 3,
    DECODE_CRC_ERROR = 4,
};

class DeviceReport;

// Per-report parse state. A decoder decodes one report and never restarts:
// once the result is DECODE_OK or DECODE_CRC_ERROR further bytes are ignored.
struct ReportDecoder {
    int state = 0;  // 0..10, position inside the frame
    DecodeResult result = DECODE_IDLE;
    std::uint32_t count = 0;       // payload bytes received so far
    std::uint16_t received_crc = 0;
    std::vector<std::uint8_t> crc_bytes;  // ID through the last payload byte

    // Feeds one byte; updates the header fields and payload of `report`.
    void Decode(std::uint8_t byte, DeviceReport& report);
};

// Base of both report directions: header fields and payload.
class IOReport {
public:
    IOReport() = default;
    IOReport(const IOReport&) = default;
    IOReport& operator=(const IOReport&) = default;
    IOReport(IOReport&&) = default;
    IOReport& operator=(IOReport&&) = default;
    virtual ~IOReport();

    ReportHeader Header() const;
    void SetHeader(const ReportHeader& header);

    std::vector<std::uint8_t> Payload() const { return DATA; }
    // Replaces the payload and sets LEN to its size.
    void SetPayload(std::vector<std::uint8_t> bytes);
    // Empties the payload; LEN is left alone.
    void ClearPayload() { DATA.clear(); }
    // Stores the value little-endian and sets LEN to 2.
    void SetPayloadWord(std::uint16_t value);
    // Stores each value as four little-endian bytes and sets LEN to the byte count.
    void SetPayloadDwords(std::initializer_list<std::uint32_t> values);
    void SetPayloadDwords(std::span<const std::uint32_t> values);

    // First two bytes little-endian; 0 when there are fewer than two.
    std::uint16_t PayloadWord() const;
    // First four bytes little-endian; 0 when there are fewer than four.
    std::uint32_t PayloadDword() const;
    // Consecutive byte pairs little-endian; an odd last byte is dropped.
    std::vector<std::uint16_t> PayloadWords() const;
    // The leading run of ASCII letters and digits.
    std::string PayloadText() const;

    // Text form used by the traffic log ("ID: 04   HDR: ...", then "DATA: ...").
    void Dump(std::ostream& out) const;
    std::string DumpText() const;

    std::uint8_t ID = 0xFF;
    std::uint8_t HDR = 0x00;
    std::uint8_t CONTEXT = 0x00;
    std::uint16_t LEN = 0;
    std::uint16_t ADDR = 0;
    std::vector<std::uint8_t> DATA;
};

// A request from the host. Build it completely (header, payload, LEN) before
// the first Serialize: the wire bytes are cached and never rebuilt. A copy
// starts with an empty cache and serializes itself from its own fields.
class HostReport : public IOReport {
public:
    static constexpr std::uint8_t Write = 0x00;
    static constexpr std::uint8_t Read = 0x80;
    static constexpr std::size_t MaxPayload = 64;

    HostReport() = default;
    // Header from the report type: ID 4 when bit 4 is set (else 1), HDR the low
    // nibble OR the direction, CONTEXT bit 5, LEN the type's default.
    HostReport(int type, std::uint8_t direction, std::uint16_t address);
    HostReport(const HostReport& other);
    HostReport& operator=(const HostReport& other);
    HostReport(HostReport&& other) noexcept;
    HostReport& operator=(HostReport&& other) noexcept;
    ~HostReport() override;

    // Wire bytes: header, first min(payload, 64) bytes, CRC low byte first.
    // Not thread-safe on first call (fills the cache).
    const std::vector<std::uint8_t>& Serialize() const;

    // Default LEN for a report type and direction; 0 for types the caller sizes.
    static std::uint16_t DefaultLength(int type, std::uint8_t direction, std::uint16_t address);

private:
    mutable std::vector<std::uint8_t> serialized_;
    mutable bool valid_ = false;
};

// An answer from the device, rebuilt byte by byte with Decode. Copying a
// DeviceReport copies its decoder's whole state.
class DeviceReport : public IOReport {
public:
    DeviceReport() = default;
    DeviceReport(const DeviceReport&) = default;
    DeviceReport& operator=(const DeviceReport&) = default;
    DeviceReport(DeviceReport&&) = default;
    DeviceReport& operator=(DeviceReport&&) = default;
    ~DeviceReport() override;

    void Decode(std::uint8_t byte) { decoder_.Decode(byte, *this); }

    DecodeResult Result() const { return decoder_.result; }
    const ReportDecoder& Decoder() const { return decoder_; }
    bool IsComplete() const { return decoder_.result == DECODE_OK || decoder_.result == DECODE_CRC_ERROR; }
    bool HasCrcError() const { return decoder_.result == DECODE_CRC_ERROR; }
    bool HasUnexpectedChar() const { return decoder_.result == DECODE_UNEXPECTED_CHAR; }

    // HDR status bits of a device answer. A response is accepted exactly when
    // bit 6 (acknowledge) is set and bit 4 (fault) is clear.
    bool InterlockAlarm() const { return (HDR & 0x80) != 0; }
    bool FaultBit() const { return (HDR & 0x10) != 0; }
    bool Rejected() const { return (HDR & 0x60) == 0x20; }
    bool NotAcknowledged() const { return (HDR & 0x60) == 0x00; }
    bool Accepted() const { return (HDR & 0x40) != 0 && (HDR & 0x10) == 0; }

private:
    ReportDecoder decoder_;
};

}  // namespace Qel
