// McsImage: writes a byte image as MCS (Intel-HEX) text for tests, and maps
// an image to the bytes a controller's flash holds after an upgrade.
//
// The text has data records of the chosen sizes (cycled through), an extended
// linear address record (type 04) at the start of every 64 KiB, records never
// crossing a 64 KiB boundary, an end-of-file record and correct checksums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace QelTest {

struct McsOptions {
    // Data bytes per record, cycled through; each a multiple of 4, 4..252.
    std::vector<std::size_t> record_sizes{16};
    bool lower_case = false;
    bool crlf = false;
    std::uint32_t base_address = 0;
};

// Record sizes of a "mixed" image: every size a record of a real file might
// have, so that blocks and records never line up.
std::vector<std::size_t> MixedRecordSizes();

// The image must be a whole number of 32-bit words (throws otherwise).
std::string WriteMcs(std::span<const std::uint8_t> image, const McsOptions& options = {});

// The host sends each 32-bit word least significant byte first: text
// AABBCCDD is programmed as DD CC BB AA. This is the flash content the image
// becomes (image bytes in file order, every group of four reversed).
std::vector<std::uint8_t> FlashOrder(std::span<const std::uint8_t> image);

// Deterministic pseudo-random bytes (a whole number of words when `size` is).
std::vector<std::uint8_t> RandomImage(std::size_t size, std::uint32_t seed);

// One record line (no line end) with its checksum, upper-case hex.
std::string McsRecordLine(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);

}  // namespace QelTest
