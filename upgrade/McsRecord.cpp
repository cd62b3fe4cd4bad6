#include "upgrade/McsRecord.h"

namespace Qel::Mcs {

std::optional<std::uint32_t> HexField(std::string_view line, std::size_t pos, std::size_t digits) {
    if (digits == 0 || digits > 8 || pos > line.size() || line.size() - pos < digits) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const auto digit = HexDigit(line[pos + i]);
        if (!digit) return std::nullopt;
        value = (value << 4) | *digit;
    }
    return value;
}

}  // namespace Qel::Mcs
