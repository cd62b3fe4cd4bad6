#include "McsImage.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <stdexcept>

namespace QelTest {
namespace {

void AppendHex(std::string& text, std::uint8_t byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0xF]);
}

}  // namespace

std::vector<std::size_t> MixedRecordSizes() { return {16, 32, 4, 12, 28, 8, 64, 20, 252, 24, 36}; }

std::string McsRecordLine(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data) {
    std::string line = ":";
    const auto count = static_cast<std::uint8_t>(data.size());
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    AppendHex(line, count);
    AppendHex(line, static_cast<std::uint8_t>(address >> 8));
    AppendHex(line, static_cast<std::uint8_t>(address & 0xFF));
    AppendHex(line, type);
    for (std::uint8_t byte : data) {
        AppendHex(line, byte);
        sum += byte;
    }
    AppendHex(line, static_cast<std::uint8_t>(-sum & 0xFF));
    return line;
}

std::string WriteMcs(std::span<const std::uint8_t> image, const McsOptions& options) {
    if (image.size() % 4 != 0) throw std::invalid_argument("MCS image must be a whole number of 32-bit words");
    if (options.record_sizes.empty()) throw std::invalid_argument("no record sizes");
    for (std::size_t size : options.record_sizes) {
        if (size == 0 || size % 4 != 0 || size > 252) throw std::invalid_argument("bad record size");
    }
    const std::string eol = options.crlf ? "\r\n" : "\n";
    std::string text;
    text.reserve(image.size() * 2 + image.size() / 4 + 64);

    auto emit = [&](std::string line) {
        if (options.lower_case) {
            std::transform(line.begin(), line.end(), line.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        }
        text += line;
        text += eol;
    };

    std::size_t offset = 0;
    std::size_t record = 0;
    std::uint32_t segment = 0xFFFFFFFF;
    while (offset < image.size()) {
        const std::uint32_t address = options.base_address + static_cast<std::uint32_t>(offset);
        if ((address >> 16) != segment) {
            segment = address >> 16;
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(segment >> 8),
                                           static_cast<std::uint8_t>(segment & 0xFF)};
            emit(McsRecordLine(0x04, 0, upper));
        }
        const std::size_t to_boundary = 0x10000 - (address & 0xFFFF);
        const std::size_t size = std::min({options.record_sizes[record++ % options.record_sizes.size()],
                                           image.size() - offset, to_boundary});
        emit(McsRecordLine(0x00, static_cast<std::uint16_t>(address & 0xFFFF), image.subspan(offset, size)));
        offset += size;
    }
    emit(McsRecordLine(0x01, 0, {}));
    return text;
}

std::vector<std::uint8_t> FlashOrder(std::span<const std::uint8_t> image) {
    std::vector<std::uint8_t> flash(image.begin(), image.end());
    for (std::size_t i = 0; i + 4 <= flash.size(); i += 4) std::reverse(flash.begin() + static_cast<std::ptrdiff_t>(i), flash.begin() + static_cast<std::ptrdiff_t>(i + 4));
    return flash;
}

std::vector<std::uint8_t> RandomImage(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(generator() >> 24);
    return image;
}

}  // namespace QelTest
