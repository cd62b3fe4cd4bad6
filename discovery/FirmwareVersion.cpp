#include "discovery/FirmwareVersion.h"

#include <array>

namespace Qel {

FirmwareVersion DecodeVersion(const std::vector<std::uint16_t>& words) {
    std::array<std::uint16_t, 4> w{};
    for (std::size_t i = 0; i < w.size() && i < words.size(); ++i) {
        w[i] = words[i];
    }

    FirmwareVersion version;
    version.Major = w[0] >> 8;
    version.Minor = w[0] & 0xFF;
    version.Revision = w[1];

    std::tm& t = version.BuildTime;
    t.tm_sec = 0;
    t.tm_min = w[3] & 0xFF;
    t.tm_hour = w[3] >> 8;
    t.tm_mday = w[2] & 0x1F;
    t.tm_mon = ((w[2] >> 5) & 0x0F) - 1;
    t.tm_year = (w[2] >> 9) + 100;
    t.tm_wday = 1;
    t.tm_yday = 1;
    t.tm_isdst = 0;
    return version;
}

std::ostream& PrintVersion(std::ostream& out, const FirmwareVersion& version) {
    out << version.Major << '.' << version.Minor << '.' << version.Revision;

    const std::tm& t = version.BuildTime;
    const bool names_a_date = t.tm_mday >= 1 && t.tm_mday <= 31 && t.tm_mon >= 0 && t.tm_mon <= 11;
    if (!names_a_date) {
        return out << "  (build date unknown)";
    }

    std::array<char, 100> text{};
    // strftime may normalise or look up fields of its argument; work on a copy.
    std::tm copy = t;
    const std::size_t length = std::strftime(text.data(), text.size(), "  %a %b %d %Y %H:%M %Z", &copy);
    return out.write(text.data(), static_cast<std::streamsize>(length));
}

}  // namespace Qel
