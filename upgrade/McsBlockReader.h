// McsBlockReader: turns the data records of an MCS text stream into the
// fixed-size blocks the controller is fed during the programming phase.
//
// Data is taken in file order; record addresses, extended linear address
// records and checksums are ignored (the console checks the whole file with
// CheckMcsImage first, and the controller checks what it programmed). Each
// 32-bit word written AABBCCDD in the text is delivered as DD CC BB AA.
//
// Record sizes: bytes of a record that do not fit into the current block are
// carried over to the next block, so every image byte reaches the device
// once, in file order, whatever the record sizes. With 16-byte records and
// block sizes that are multiples of 16 a block of m bytes takes exactly m/16
// records. Only when the stream has ended is a block padded with zeros.
//
// Malformed input is a stream error, never skipped data: a line starting with
// ':' that is too short for its count, address and type fields, a data
// record (type 0) too short for its data, any non-hexadecimal character in
// those fields, and a data record whose byte count is not a multiple of 4
// (it cannot be sent in whole words). A data record with count 0 carries
// nothing and is skipped, as are records of other types and lines that do not
// start with ':'. A trailing CR and lower-case hexadecimal are accepted.
// Nothing past the end of a line is read.
//
// Used by the engine's worker thread only; no locks. A stream with exceptions
// enabled is read like any other: the stream's state, not the exception,
// tells a read error from the end of the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace Qel {

class McsBlockReader {
public:
    enum class Result {
        Ok,           // the block holds exactly the requested number of bytes
        StreamError,  // the stream failed or a line was malformed; the block is not to be sent
    };

    explicit McsBlockReader(std::istream& image);

    // Forgets carried bytes and the line count (start of a run).
    void Reset();

    // Makes `block` exactly `size` bytes: carried bytes first, then the data of
    // further records; zero bytes once the stream has ended.
    Result Fill(std::vector<std::uint8_t>& block, std::size_t size);

    // The stream failed to open or a read failed (not merely at its end).
    bool StreamFailed() const;
    // True once the end of the stream was reached and nothing is carried:
    // every later block is all zeros.
    bool Exhausted() const;

    // 1-based number of the last line read (diagnostics of a StreamError).
    std::size_t LineNumber() const { return line_number_; }

private:
    // Decodes one line; appends data bytes to `block` up to `size`, the rest
    // to the carry. False for a malformed line.
    bool TakeLine(std::vector<std::uint8_t>& block, std::size_t size);
    void Emit(std::uint8_t byte, std::vector<std::uint8_t>& block, std::size_t size);

    std::istream& image_;
    std::string line_;                 // reused for every line
    std::vector<std::uint8_t> carry_;  // bytes decoded but not yet placed in a block
    std::size_t carry_begin_ = 0;      // first unused byte of carry_
    std::size_t line_number_ = 0;
};

}  // namespace Qel
