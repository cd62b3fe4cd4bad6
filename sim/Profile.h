// Identity profile of a simulated Qel System: magic numbers, firmware
// versions, serial number, the controller's file-system table, the
// synthesiser's EEPROM table and the firmware the controller expects.
//
// Plain values built by the caller (tests, the qel_sim options) before a
// Device is made; the named presets cover every magic number of the hardware
// database plus one that is in no row. Nothing here fails at run time:
// ProfileByName answers empty for an unknown name.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace QelSim {

// A firmware version as the device reports it in four 16-bit words.
struct FirmwareVersion {
    int major = 1;
    int minor = 0;
    int revision = 0;
    int year = 2024;  // 2000..2127
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;
    int minute = 0;

    // w0 = major<<8|minor, w1 = revision, w2 = (year-2000)<<9|month<<5|day, w3 = hour<<8|minute.
    std::array<std::uint16_t, 4> Words() const;
};

// One row of the controller's file-system table (49-byte register image).
struct FileSystemEntry {
    std::array<std::uint8_t, 16> uuid{};
    std::uint32_t byte_length = 0;
    std::uint32_t points = 0;
    std::uint32_t word_a = 0;
    std::uint32_t word_b = 0;
    std::uint8_t kind = 0;
    std::string name;  // cut or zero-padded to 16 bytes

    // uuid, byte length, points, word A, word B (all LE), kind, 16 name bytes.
    std::vector<std::uint8_t> Bytes() const;
};

// One 15-byte entry of the synthesiser's EEPROM table.
struct EepromEntry {
    std::uint8_t type = 0;  // low nibble is stored
    bool flag = false;
    std::uint32_t value_a = 0;  // 24 bits are stored
    std::uint32_t value_b = 0;
    std::string name;  // cut or zero-padded to 8 bytes

    friend bool operator==(const EepromEntry&, const EepromEntry&) = default;
};

// The EEPROM area from 0x200 as a table description. Every field can be set
// wrong on purpose: another magic number, an odd count or format version, or
// an area that was never written (all 0xFF).
struct EepromTable {
    bool erased = false;                 // the whole area reads 0xFF
    std::optional<std::uint16_t> magic;  // default: the synthesiser's magic number
    std::uint8_t version = 1;
    std::optional<std::uint8_t> count;   // default: the number of entries
    std::vector<EepromEntry> entries;
};

inline constexpr std::uint32_t kEepromTableAddress = 0x200;
inline constexpr std::size_t kEepromTableArea = 512;
inline constexpr std::size_t kEepromEntrySize = 15;
inline constexpr std::size_t kEepromEntryLimit = 33;

// The table's byte image: 512 bytes of 0xFF when erased, otherwise
// magic (LE), count, version, FF FF FF FF, then the entries.
std::vector<std::uint8_t> EncodeEepromTable(const EepromTable& table, std::uint16_t synth_magic);
// Reads an image back (at most 33 entries; names up to their first zero byte).
// Empty when fewer than 8 bytes are given or the entries do not fit.
std::optional<EepromTable> DecodeEepromTable(std::span<const std::uint8_t> image);

// Times of the controller's upgrade sequence and its receive buffer.
struct UpgradeTiming {
    std::uint32_t started_ms = 2;     // command accepted -> Started
    std::uint32_t initialize_ms = 2;  // -> InitializeOk
    std::uint32_t check_id_ms = 2;    // -> CheckIdOk
    std::uint32_t enter_ms = 2;       // -> EnteredUpgradeMode
    std::uint32_t erase_ms = 20;      // -> EraseOk
    std::uint32_t verify_ms = 10;     // ProgramOk -> VerifyOk / CrcError
    std::uint32_t leave_ms = 2;       // -> LeavingUpgradeMode and done
    std::uint32_t buffer_size = 4096;  // receive buffer, bytes
    std::uint32_t program_rate = 0;    // bytes per second moved into flash; 0 instant

    // Every phase time set to `ms` (tests use 0).
    void SetAllPhases(std::uint32_t ms);
};

struct Profile {
    std::string name = "ulix3";
    std::uint16_t controller_magic = 50447;
    std::uint16_t synth_magic = 50447;
    FirmwareVersion controller_version;
    FirmwareVersion synth_version;
    std::string serial = "Ulix30001";  // answered to type 0x13, 16 bytes zero-padded
    bool upgrade_channel = true;       // answers the firmware-upgrade channel
    std::vector<FileSystemEntry> file_system;  // FastTransfer controllers
    std::uint16_t single_image_points = 0;     // single-image controllers
    std::array<std::uint8_t, 16> single_image_uuid{};
    EepromTable eeprom;
    // The image the controller expects, in the order it is programmed.
    std::vector<std::uint8_t> expected_firmware;
    // Bytes the controller programs; default: the expected firmware's length,
    // or 64 KiB when no firmware is expected.
    std::optional<std::uint32_t> image_size;
    bool flash_erased = false;    // flash starts erased instead of holding the expected image
    std::string flash_dump_path;  // written at the end of every run when set
    UpgradeTiming timing;

    std::uint32_t EffectiveImageSize() const;
};

// Names of the presets, the default ("ulix3", the combined 50447 board) first.
std::vector<std::string> ProfileNames();
// One line per preset: name, magic numbers, what it stands for.
std::string DescribeProfiles();
std::optional<Profile> ProfileByName(std::string_view name);
Profile DefaultProfile();

}  // namespace QelSim
