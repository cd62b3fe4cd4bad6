#pragma once
// The two tables a system record carries: the controller's file-system table
// (one entry per stored image, read by the identity query) and the in-memory
// form of the synthesiser's EEPROM table (33 entries; its byte image and the
// operations that read and write it live with the EEPROM table reader and
// writer). Plain value types: copies are deep. No locks.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Qel {

struct FileSystemEntry {
    int Index = 0;
    int WordB = 0;       // carried and copied, not interpreted
    int WordA = 0;       // carried and copied, not interpreted
    int Points = 0;
    int ByteLength = 0;
    std::array<std::uint8_t, 16> Uuid{};
    std::string Name;
    std::uint8_t Kind = 0;  // carried and copied, not interpreted
};

using FileSystemTable = std::vector<FileSystemEntry>;

// One entry of the synthesiser's EEPROM table. A blank entry has type 0,
// both values 0, flag false and an empty name. A name read from the EEPROM
// is held as its eight positions, zero-padded ("FX2" is F, X, 2 and five
// zero characters).
struct SynthEEPROMEntry {
    std::uint8_t Type = 0;     // 0 (empty), 1, 2, 3 or 15
    std::int32_t ValueA = 0;   // holds 24 bits
    std::int32_t ValueB = 0;   // holds 24 bits
    bool Flag = false;
    std::string Name;          // up to 8 characters

    friend bool operator==(const SynthEEPROMEntry&, const SynthEEPROMEntry&) = default;
};

// Valid is true only for a table parsed from the EEPROM; a blank table has
// valid false, count 0, version 0 and 33 blank entries. Entry i sits at
// index i; Count says how many, from the start, are in use.
struct SynthEEPROMTable {
    static constexpr int kEntryCount = 33;

    bool Valid = false;
    std::uint8_t Count = 0;
    std::uint8_t Version = 0;
    std::array<SynthEEPROMEntry, kEntryCount> Entries{};

    friend bool operator==(const SynthEEPROMTable&, const SynthEEPROMTable&) = default;
};

}  // namespace Qel
