#include "messaging/IOReport.h"

#include <array>
#include <cctype>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace Qel {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x10000U) {
                crc = (crc ^ Crc16::Polynomial) & 0xFFFFU;
            }
        }
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

bool IsStartByte(std::uint8_t byte) { return byte == 0x02 || byte == 0x05 || byte == 0x49; }

void AppendLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

// ---------------------------------------------------------------------------

Crc16::Crc16(std::vector<std::uint8_t>& bytes) {
    Update(bytes);
    bytes.clear();
}

void Crc16::Update(std::uint8_t byte) {
    value_ = static_cast<std::uint16_t>((value_ << 8) ^ kCrcTable[((value_ >> 8) ^ byte) & 0xFFU]);
}

void Crc16::Update(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        Update(b);
    }
}

std::uint16_t Crc16::Compute(std::span<const std::uint8_t> bytes) {
    Crc16 crc;
    crc.Update(bytes);
    return crc.Value();
}

// ---------------------------------------------------------------------------

void ReportDecoder::Decode(std::uint8_t byte, DeviceReport& report) {
    if (result == DECODE_OK || result == DECODE_CRC_ERROR) {
        return;
    }
    switch (state) {
    case 0:
        if (IsStartByte(byte)) {
            report.ID = byte;
            crc_bytes.clear();
            crc_bytes.push_back(byte);
            count = 0;
            result = DECODE_IN_PROGRESS;
            state = 1;
        } else {
            result = DECODE_UNEXPECTED_CHAR;
        }
        break;
    case 1:
        report.HDR = byte;
        crc_bytes.push_back(byte);
        state = 2;
        break;
    case 2:
        report.CONTEXT = byte;
        crc_bytes.push_back(byte);
        state = 3;
        break;
    case 3:
        report.LEN = static_cast<std::uint16_t>((report.LEN & 0xFF00U) | byte);
        crc_bytes.push_back(byte);
        state = 4;
        break;
    case 4:
        report.LEN = static_cast<std::uint16_t>((report.LEN & 0x00FFU) | (byte << 8));
        crc_bytes.push_back(byte);
        state = 5;
        break;
    case 5:
        report.ADDR = static_cast<std::uint16_t>((report.ADDR & 0xFF00U) | byte);
        crc_bytes.push_back(byte);
        state = 6;
        break;
    case 6:
        report.ADDR = static_cast<std::uint16_t>((report.ADDR & 0x00FFU) | (byte << 8));
        crc_bytes.push_back(byte);
        report.DATA.clear();
        state = report.LEN == 0 ? 8 : 7;
        break;
    case 7:
        report.DATA.push_back(byte);
        crc_bytes.push_back(byte);
        ++count;
        if (count >= report.LEN) {
            state = 8;
        }
        break;
    case 8:
        received_crc = byte;
        state = 9;
        break;
    case 9: {
        received_crc = static_cast<std::uint16_t>(received_crc | (byte << 8));
        const std::uint16_t computed = Crc16(crc_bytes).Value();
        result = computed == received_crc ? DECODE_OK : DECODE_CRC_ERROR;
        state = 10;
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------

IOReport::~IOReport() = default;

ReportHeader IOReport::Header() const { return ReportHeader{ID, HDR, CONTEXT, LEN, ADDR}; }

void IOReport::SetHeader(const ReportHeader& header) {
    ID = header.ID;
    HDR = header.HDR;
    CONTEXT = header.CONTEXT;
    LEN = header.LEN;
    ADDR = header.ADDR;
}

void IOReport::SetPayload(std::vector<std::uint8_t> bytes) {
    DATA = std::move(bytes);
    LEN = static_cast<std::uint16_t>(DATA.size());
}

void IOReport::SetPayloadWord(std::uint16_t value) {
    DATA.clear();
    AppendLittleEndian(DATA, value, 2);
    LEN = 2;
}

void IOReport::SetPayloadDwords(std::initializer_list<std::uint32_t> values) {
    SetPayloadDwords(std::span<const std::uint32_t>(values.begin(), values.size()));
}

void IOReport::SetPayloadDwords(std::span<const std::uint32_t> values) {
    DATA.clear();
    for (std::uint32_t v : values) {
        AppendLittleEndian(DATA, v, 4);
    }
    LEN = static_cast<std::uint16_t>(DATA.size());
}

std::uint16_t IOReport::PayloadWord() const {
    if (DATA.size() < 2) {
        return 0;
    }
    return static_cast<std::uint16_t>(DATA[0] | (DATA[1] << 8));
}

std::uint32_t IOReport::PayloadDword() const {
    if (DATA.size() < 4) {
        return 0;
    }
    return static_cast<std::uint32_t>(DATA[0]) | (static_cast<std::uint32_t>(DATA[1]) << 8) |
           (static_cast<std::uint32_t>(DATA[2]) << 16) | (static_cast<std::uint32_t>(DATA[3]) << 24);
}

std::vector<std::uint16_t> IOReport::PayloadWords() const {
    std::vector<std::uint16_t> words;
    words.reserve(DATA.size() / 2);
    for (std::size_t i = 0; i + 1 < DATA.size(); i += 2) {
        words.push_back(static_cast<std::uint16_t>(DATA[i] | (DATA[i + 1] << 8)));
    }
    return words;
}

std::string IOReport::PayloadText() const {
    std::string text;
    for (std::uint8_t b : DATA) {
        // Plain ASCII test: the locale must not widen what counts as a letter.
        const bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (!alnum) {
            break;
        }
        text.push_back(static_cast<char>(b));
    }
    return text;
}

void IOReport::Dump(std::ostream& out) const {
    std::ostringstream text;
    text << std::hex << std::setfill('0');
    text << "ID: " << std::setw(2) << unsigned{ID} << "   HDR: " << std::setw(2) << unsigned{HDR}
         << "   CONTEXT: " << std::setw(2) << unsigned{CONTEXT} << "   ADDR: " << std::setw(2) << unsigned{ADDR}
         << "   LEN: " << std::setw(2) << unsigned{LEN} << "\nDATA: ";
    for (std::size_t i = 0; i < DATA.size(); ++i) {
        text << std::setw(2) << unsigned{DATA[i]} << ' ';
        // The first line carries 17 bytes: the break comes after byte 16, 32, ...
        if (i != 0 && i % 16 == 0 && i + 1 < DATA.size()) {
            text << '\n';
        }
    }
    out << text.str();
}

std::string IOReport::DumpText() const {
    std::ostringstream out;
    Dump(out);
    return out.str();
}

// ---------------------------------------------------------------------------

HostReport::HostReport(int type, std::uint8_t direction, std::uint16_t address) {
    ID = (type & 0x10) != 0 ? 4 : 1;
    HDR = static_cast<std::uint8_t>((type & 0x0F) | direction);
    CONTEXT = static_cast<std::uint8_t>((type >> 5) & 0x01);
    ADDR = address;
    LEN = DefaultLength(type, direction, address);
}

HostReport::HostReport(const HostReport& other) : IOReport(other) {}

HostReport& HostReport::operator=(const HostReport& other) {
    if (this != &other) {
        IOReport::operator=(other);
        serialized_.clear();
        valid_ = false;
    }
    return *this;
}

HostReport::HostReport(HostReport&& other) noexcept
    : IOReport(std::move(other)), serialized_(std::move(other.serialized_)), valid_(other.valid_) {
    other.serialized_.clear();
    other.valid_ = false;
}

HostReport& HostReport::operator=(HostReport&& other) noexcept {
    if (this != &other) {
        IOReport::operator=(std::move(other));
        serialized_ = std::move(other.serialized_);
        valid_ = other.valid_;
        other.serialized_.clear();
        other.valid_ = false;
    }
    return *this;
}

HostReport::~HostReport() = default;

std::uint16_t HostReport::DefaultLength(int type, std::uint8_t direction, std::uint16_t address) {
    const bool read = (direction & Read) != 0;
    switch (type) {
    case 0x00: case 0x03: case 0x05: case 0x07: case 0x08: case 0x0C: case 0x0F: case 0x11:
        return 2;
    case 0x01:
        return 1;
    case 0x04: case 0x0A: case 0x0B:
        return read ? 16 : 2;
    case 0x06: case 0x12:
        return 64;
    case 0x14:
        return 8;
    case 0x20: case 0x30:
        if (!read) {
            return address == 0 ? 1 : 0;
        }
        switch (address) {
        case 0: return 4;
        case 1: return 2;
        case 2: return 4;
        default: return 0;
        }
    default:
        return 0;
    }
}

const std::vector<std::uint8_t>& HostReport::Serialize() const {
    if (valid_) {
        return serialized_;
    }
    serialized_.clear();
    serialized_.push_back(ID);
    serialized_.push_back(HDR);
    serialized_.push_back(CONTEXT);
    AppendLittleEndian(serialized_, LEN, 2);
    AppendLittleEndian(serialized_, ADDR, 2);
    const std::size_t n = std::min(DATA.size(), MaxPayload);
    serialized_.insert(serialized_.end(), DATA.begin(), DATA.begin() + static_cast<std::ptrdiff_t>(n));
    AppendLittleEndian(serialized_, Crc16::Compute(serialized_), 2);
    valid_ = true;
    return serialized_;
}

// ---------------------------------------------------------------------------

DeviceReport::~DeviceReport() = default;

}  // namespace Qel
