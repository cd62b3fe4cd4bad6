// Reading Intel-HEX (MCS) record text: hexadecimal fields at the fixed
// character positions of a record line. Shared by the image check and the
// block reader so both agree on what a record is. Pure functions; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace Qel::Mcs {

// Character positions of a record line: ':' CC AAAA TT data... KK
inline constexpr std::size_t CountPos = 1;
inline constexpr std::size_t AddressPos = 3;
inline constexpr std::size_t TypePos = 7;
inline constexpr std::size_t DataPos = 9;

inline constexpr std::uint8_t DataRecord = 0x00;
inline constexpr std::uint8_t EndOfFileRecord = 0x01;
inline constexpr std::uint8_t ExtendedLinearAddressRecord = 0x04;

// The value of one hexadecimal digit (either case), or empty.
constexpr std::optional<std::uint8_t> HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

// The unsigned number written by `digits` hexadecimal digits at `pos`; empty
// when the line is too short or a character is not a hexadecimal digit.
// Reads nothing outside the line.
std::optional<std::uint32_t> HexField(std::string_view line, std::size_t pos, std::size_t digits);

// The line without one trailing carriage return.
constexpr std::string_view WithoutCR(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace Qel::Mcs
