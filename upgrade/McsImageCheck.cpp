#include "upgrade/McsImageCheck.h"

#include <cstdint>
#include <ios>
#include <sstream>
#include <string_view>

#include "upgrade/McsRecord.h"

namespace Qel {
namespace {

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::string Hex2(unsigned value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// Empty when the record is sound; otherwise what is wrong with it.
std::string CheckRecord(std::string_view line, bool& has_data) {
    if (line.front() != ':') return "a record must start with ':'";
    const std::string_view digits = line.substr(1);
    for (char c : digits) {
        if (!Mcs::HexDigit(c)) return "a record may hold only hexadecimal digits after the ':'";
    }
    if (digits.size() % 2 != 0) return "odd number of hexadecimal digits";
    if (digits.size() < 10) return "record too short for count, address, type and checksum";

    const std::size_t byte_count = digits.size() / 2;
    const std::uint32_t count = *Mcs::HexField(line, Mcs::CountPos, 2);
    if (byte_count != count + 5) {
        std::ostringstream text;
        text << "byte count " << count << " does not match the record's " << (byte_count - 5) << " data bytes";
        return text.str();
    }
    const std::uint32_t type = *Mcs::HexField(line, Mcs::TypePos, 2);
    if (type > 5) return "unknown record type " + Hex2(type);

    unsigned sum = 0;
    for (std::size_t i = 0; i < byte_count; ++i) sum += *Mcs::HexField(line, 1 + 2 * i, 2);
    if ((sum & 0xFF) != 0) {
        const unsigned found = *Mcs::HexField(line, 1 + 2 * (byte_count - 1), 2);
        const unsigned expected = (found - sum) & 0xFF;
        return "checksum " + Hex2(found) + " is wrong (expected " + Hex2(expected) + ")";
    }
    if (type == Mcs::DataRecord) {
        if (count % 4 != 0) {
            return "data record of " + std::to_string(count) + " bytes is not a whole number of 32-bit words";
        }
        if (count > 0) has_data = true;
    }
    return {};
}

}  // namespace

McsImageCheckResult CheckMcsImage(std::istream& image) {
    McsImageCheckResult result;
    if (!image.good()) {
        result.message = "the image cannot be read";
        return result;
    }
    bool has_data = false;
    std::size_t line_number = 0;
    std::string text;
    try {
        while (std::getline(image, text)) {
            ++line_number;
            const std::string_view line = Mcs::WithoutCR(text);
            if (IsBlank(line)) continue;
            std::string fault = CheckRecord(line, has_data);
            if (!fault.empty()) {
                result.line = line_number;
                result.message = std::move(fault);
                return result;
            }
        }
    } catch (const std::ios_base::failure&) {
        // Reported below as a read failure.
    }
    if (image.bad() || !image.eof()) {
        result.line = line_number + 1;
        result.message = "reading the image failed";
        return result;
    }
    if (!has_data) {
        result.message = "the image holds no data records";
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace Qel
