#include "sim/Mcs.h"

#include <fstream>

namespace QelSim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

McsImage Failure(const std::string& name, std::size_t line, const std::string& what) {
    McsImage image;
    image.error = name + ":" + std::to_string(line) + ": " + what;
    return image;
}

}  // namespace

McsImage ReadMcs(std::istream& in, const std::string& name) {
    McsImage image;
    std::string text;
    std::size_t line_number = 0;
    while (std::getline(in, text)) {
        ++line_number;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.pop_back();
        if (text.empty()) continue;
        if (text[0] != ':') return Failure(name, line_number, "a record must start with ':'");
        if ((text.size() - 1) % 2 != 0 || text.size() < 11) return Failure(name, line_number, "record too short or odd length");
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
            const int high = HexDigit(text[i]);
            const int low = HexDigit(text[i + 1]);
            if (high < 0 || low < 0) return Failure(name, line_number, "not a hexadecimal digit");
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
        const std::size_t count = bytes[0];
        if (bytes.size() != count + 5) return Failure(name, line_number, "byte count does not match the record length");
        unsigned sum = 0;
        for (std::uint8_t b : bytes) sum += b;
        if ((sum & 0xFF) != 0) return Failure(name, line_number, "checksum mismatch");
        const std::uint8_t type = bytes[3];
        if (type == 0x01) break;  // end of file
        if (type >= 0x02 && type <= 0x05) continue;  // address records: the stream ignores addresses
        if (type != 0x00) return Failure(name, line_number, "unknown record type");
        if (count % 4 != 0) return Failure(name, line_number, "data length is not a multiple of four");
        for (std::size_t word = 0; word < count / 4; ++word) {
            const std::size_t at = 4 + word * 4;
            image.bytes.insert(image.bytes.end(), {bytes[at + 3], bytes[at + 2], bytes[at + 1], bytes[at]});
        }
    }
    if (in.bad()) return Failure(name, line_number, "read error");
    return image;
}

McsImage LoadMcs(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        McsImage image;
        image.error = path + ": cannot open";
        return image;
    }
    return ReadMcs(in, path);
}

}  // namespace QelSim
