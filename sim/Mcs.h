// Reads the firmware a simulated controller expects from an MCS (Intel-HEX)
// file, in the order the host streams it: data records in file order, record
// addresses ignored, each 32-bit word written AABBCCDD in the text becoming
// the bytes DD CC BB AA. Stricter than the host: a record with a bad
// checksum, odd hex text or a data length that is not a multiple of four is
// refused with the file name and line number in the error text.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace QelSim {

struct McsImage {
    std::vector<std::uint8_t> bytes;
    std::string error;  // empty on success

    bool Ok() const { return error.empty(); }
};

McsImage ReadMcs(std::istream& in, const std::string& name);
McsImage LoadMcs(const std::string& path);

}  // namespace QelSim
