#include "upgrade/McsBlockReader.h"

#include <algorithm>
#include <ios>
#include <string_view>

#include "upgrade/McsRecord.h"

namespace Qel {

McsBlockReader::McsBlockReader(std::istream& image) : image_(image) {
    // A record holds at most 255 bytes; at most one record's surplus is carried.
    carry_.reserve(256);
}

void McsBlockReader::Reset() {
    carry_.clear();
    carry_begin_ = 0;
    line_number_ = 0;
}

bool McsBlockReader::StreamFailed() const {
    // A read error counts even at the end of the stream; the end alone does not.
    return image_.bad() || (image_.fail() && !image_.eof());
}

bool McsBlockReader::Exhausted() const { return image_.eof() && carry_begin_ == carry_.size(); }

void McsBlockReader::Emit(std::uint8_t byte, std::vector<std::uint8_t>& block, std::size_t size) {
    if (block.size() < size) {
        block.push_back(byte);
    } else {
        carry_.push_back(byte);
    }
}

bool McsBlockReader::TakeLine(std::vector<std::uint8_t>& block, std::size_t size) {
    const std::string_view line = Mcs::WithoutCR(line_);
    if (line.empty() || line.front() != ':') return true;

    const auto count = Mcs::HexField(line, Mcs::CountPos, 2);
    const auto address = Mcs::HexField(line, Mcs::AddressPos, 4);
    const auto type = Mcs::HexField(line, Mcs::TypePos, 2);
    if (!count || !address || !type) return false;
    if (*type != Mcs::DataRecord || *count == 0) return true;
    if (*count % 4 != 0) return false;
    if (line.size() < Mcs::DataPos + 2 * std::size_t{*count}) return false;

    // Decode the whole record before emitting anything, so a bad digit late in
    // the record leaves no half record behind.
    std::uint8_t bytes[255];
    for (std::size_t i = 0; i < *count; ++i) {
        const auto value = Mcs::HexField(line, Mcs::DataPos + 2 * i, 2);
        if (!value) return false;
        bytes[i] = static_cast<std::uint8_t>(*value);
    }
    // Each 32-bit word goes out least significant byte first: text AABBCCDD
    // becomes DD CC BB AA.
    for (std::size_t word = 0; word < *count; word += 4) {
        for (std::size_t k = 4; k-- > 0;) Emit(bytes[word + k], block, size);
    }
    return true;
}

McsBlockReader::Result McsBlockReader::Fill(std::vector<std::uint8_t>& block, std::size_t size) {
    block.clear();

    const std::size_t carried = std::min(size, carry_.size() - carry_begin_);
    block.insert(block.end(), carry_.begin() + static_cast<std::ptrdiff_t>(carry_begin_),
                 carry_.begin() + static_cast<std::ptrdiff_t>(carry_begin_ + carried));
    carry_begin_ += carried;
    if (carry_begin_ == carry_.size()) {
        carry_.clear();
        carry_begin_ = 0;
    }

    try {
        while (block.size() < size && image_.good()) {
            if (!std::getline(image_, line_)) break;
            ++line_number_;
            if (!TakeLine(block, size)) return Result::StreamError;
        }
    } catch (const std::ios_base::failure&) {
        // A stream with exceptions enabled throws at its plain end too; the
        // stream state below tells the two apart.
    }
    if (StreamFailed()) return Result::StreamError;

    // Only the end of the image leaves a block short.
    block.resize(size, 0);
    return Result::Ok;
}

}  // namespace Qel
