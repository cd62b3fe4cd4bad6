#pragma once
// FirmwareVersion: the version of a controller's or synthesiser's firmware as
// the device reports it (four 16-bit words), decoded into numbers and a build
// time, and printed for the operator. Plain value type; no locks, no threads.

#include <cstdint>
#include <ctime>
#include <ostream>
#include <vector>

namespace Qel {

struct FirmwareVersion {
    // Unread value: Major -1, Minor 0, Revision 0, every BuildTime field 0.
    int Major = -1;
    int Minor = 0;
    int Revision = 0;
    std::tm BuildTime{};
};

// Decodes the words of a version reply (low byte first, as the report gives
// them). Missing words count as 0 and words after the fourth are ignored.
//   w0: Major in the high byte, Minor in the low byte; w1: Revision;
//   w2: bits 15..9 year since 2000, 8..5 month 1-12, 4..0 day of month;
//   w3: hours in the high byte, minutes in the low byte.
// The weekday is always set to 1 (printed "Mon") and the day of year to 1:
// the device does not report them.
FirmwareVersion DecodeVersion(const std::vector<std::uint16_t>& words);

// Writes "Major.Minor.Revision" and then the build time as strftime formats
// it with "  %a %b %d %Y %H:%M %Z" (%Z is the local time-zone name).
// A build time that names no calendar date (day of month outside 1..31 or
// month outside 0..11, as in an unread version whose fields are all 0) is
// written as "  (build date unknown)" instead, since strftime has no sound
// text for it.
std::ostream& PrintVersion(std::ostream& out, const FirmwareVersion& version);

}  // namespace Qel
