// CheckMcsImage: checks a whole MCS (Intel-HEX) image before anything is
// sent to a device, so that a damaged or truncated file is refused with the
// line that is wrong instead of failing part-way through programming.
//
// Rules: every non-empty line (a trailing CR and blank lines are allowed) is
// one record: a colon, then an even number of hexadecimal digits (either
// case) giving count, address, type, count data bytes and a checksum; the
// count matches the line length; the type is 00 to 05; the checksum makes the
// bytes sum to 0 modulo 256; data records carry a multiple of 4 bytes; and
// the image holds at least one data record with data. These are exactly the
// conditions under which the upgrade engine streams the image without a
// stream error.
//
// Reads the stream to its end (or to the first fault); no state, no locks.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace Qel {

struct McsImageCheckResult {
    bool ok = false;
    std::size_t line = 0;  // 1-based line of the fault; 0 when it concerns no single line
    std::string message;   // what is wrong; empty when ok

    explicit operator bool() const { return ok; }
};

McsImageCheckResult CheckMcsImage(std::istream& image);

}  // namespace Qel
