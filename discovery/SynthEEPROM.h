#pragma once
// The synthesiser's EEPROM table: its byte image in the EEPROM area
// (EEPROM.h), the reader that loads it, and the writer that stores it.
//
// Image, from the area's start: 2 bytes the synthesiser's magic number (the
// payload of its register-0 reply), 1 byte count (a reader uses at most 33),
// 1 byte format version (written 1; read 0, 1 and 255), 4 bytes 0xFF, then
// 15 bytes per entry: type in bits 3..0 and flag in bit 7, value A and value B
// as 24-bit little-endian, 8 name bytes.
//
// Threads: Read, Write and ClearEntry run on the caller's thread and block it
// until their EEPROM operation has ended (bounded by the wait bound, 30 s by
// default, so a connection that closes under them cannot hang the caller).
// Each reader and writer owns its EEPROM and supervisor (see EEPROM.h for
// their lifetime); ClearEntry's writer works through its reader's.
// Failures: nothing is shown or logged; Read gives a blank table, Write and
// ClearEntry false, and the system record is left unchanged.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "discovery/EEPROM.h"
#include "discovery/RecordTables.h"

namespace Qel {

class QELSystem;

namespace SynthEEPROMFormat {

constexpr std::size_t HeaderSize = 8;
constexpr std::size_t EntrySize = 15;
constexpr std::size_t NameSize = 8;
constexpr std::uint8_t WrittenVersion = 1;
constexpr std::size_t MaxImageSize = HeaderSize + EntrySize * SynthEEPROMTable::kEntryCount;  // 503

// Reads one 15-byte entry image (type nibble, flag, values, name rule).
SynthEEPROMEntry ParseEntry(std::span<const std::uint8_t, EntrySize> image);
// Writes one entry: type in the low nibble, flag in bit 7, name cut or
// zero-padded to 8 bytes.
std::array<std::uint8_t, EntrySize> EntryImage(const SynthEEPROMEntry& entry);
// Parses a whole area whose first bytes must equal `magic`; a blank table
// for a wrong magic number, a short header or a rejected version. Entries
// whose image would run past the end of `area` stay blank.
SynthEEPROMTable ParseTable(std::span<const std::uint8_t> area, std::span<const std::uint8_t> magic);
// The image of `table` behind the given magic bytes.
std::vector<std::uint8_t> TableImage(const SynthEEPROMTable& table, std::span<const std::uint8_t> magic);
// Blank table: valid false, count 0, version 0, 33 blank entries.
SynthEEPROMTable BlankTable();

}  // namespace SynthEEPROMFormat

// Outer bound of every wait for an EEPROM operation: well above the worst
// case of eight requests each ending by its response timeout.
constexpr std::chrono::milliseconds kDefaultEEPROMWaitBound{30000};

class SynthEEPROMReader {
public:
    explicit SynthEEPROMReader(QELSystem& system, std::chrono::milliseconds wait_bound = kDefaultEEPROMWaitBound);
    SynthEEPROMReader(const SynthEEPROMReader&) = delete;
    SynthEEPROMReader& operator=(const SynthEEPROMReader&) = delete;
    ~SynthEEPROMReader();

    // The table found in the synthesiser's EEPROM, or a blank table.
    SynthEEPROMTable Read();
    // Blanks entry `index` of the synthesiser record's table, lowers the count
    // to one past the highest remaining entry and writes the table back with
    // a new writer. True when an entry was cleared (whatever the write gave;
    // a failed write leaves the record's table unchanged); false for a
    // synthesiser that is not identified, an index outside 0..32 or an empty
    // entry.
    bool ClearEntry(int index);

private:
    QELSystem& system_;
    std::unique_ptr<EEPROM> eeprom_;
    std::unique_ptr<EEPROMSupervisor> supervisor_;
    std::chrono::milliseconds wait_bound_;
};

class SynthEEPROMWriter {
public:
    SynthEEPROMWriter(QELSystem& system, SynthEEPROMTable table,
                      std::chrono::milliseconds wait_bound = kDefaultEEPROMWaitBound);
    SynthEEPROMWriter(const SynthEEPROMWriter&) = delete;
    SynthEEPROMWriter& operator=(const SynthEEPROMWriter&) = delete;
    ~SynthEEPROMWriter();

    // Writes the table to the synthesiser's EEPROM; on success the
    // synthesiser record's table becomes this table. False when the
    // synthesiser is not identified, its magic number cannot be read (or is
    // not two bytes), or the write failed.
    bool Write();

private:
    friend class SynthEEPROMReader;
    // A writer working through a reader's EEPROM and supervisor, so that
    // ClearEntry adds no subscription to the manager while its event
    // deliveries may still be running.
    SynthEEPROMWriter(QELSystem& system, SynthEEPROMTable table, EEPROM& eeprom, EEPROMSupervisor& supervisor,
                      std::chrono::milliseconds wait_bound);

    QELSystem& system_;
    std::unique_ptr<EEPROM> own_eeprom_;  // empty when borrowed from a reader
    std::unique_ptr<EEPROMSupervisor> own_supervisor_;
    EEPROM& eeprom_;
    EEPROMSupervisor& supervisor_;
    SynthEEPROMTable table_;
    std::chrono::milliseconds wait_bound_;
};

}  // namespace Qel
