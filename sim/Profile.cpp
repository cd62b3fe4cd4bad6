#include "sim/Profile.h"

#include <algorithm>
#include <sstream>

namespace QelSim {

namespace {

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetLe(std::span<const std::uint8_t> bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value |= static_cast<std::uint32_t>(bytes[at + static_cast<std::size_t>(i)]) << (8 * i);
    return value;
}

void PutName(std::vector<std::uint8_t>& out, const std::string& name, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
}

std::array<std::uint8_t, 16> MakeUuid(std::uint8_t seed) {
    std::array<std::uint8_t, 16> uuid{};
    for (std::size_t i = 0; i < uuid.size(); ++i) uuid[i] = static_cast<std::uint8_t>(seed + 17 * i);
    return uuid;
}

struct Preset {
    const char* name;
    std::uint16_t controller;
    std::uint16_t synth;
    const char* serial;
    bool fast_transfer;  // the controller keeps a file-system table
    bool upgrade;
    const char* text;
};

// Every magic number of the hardware database appears at least once; the
// controller/synthesiser pairings are plausible ones, not a catalogue.
constexpr Preset kPresets[] = {
    {"ulix3", 50447, 50447, "Ulix30001", true, true, "Ulix3 combined controller and synthesiser (upgradable)"},
    {"qel4-lite", 1193, 51195, "QelL0001", false, false, "Qel-Lite controller with a Qel-4 synthesiser"},
    {"qel4b-liteb", 47596, 61075, "QelLb0001", false, false, "Qel-Lite (b) controller with a Qel-4b 12.5-200.66 MHz synthesiser"},
    {"qel4b-pro", 44332, 53399, "QelP0001", true, false, "Qel-Pro controller with a Qel-4b 12.288-196.608 MHz synthesiser"},
    {"qeli-pro", 44332, 19459, "QelP0002", true, false, "Qel-Pro controller with a Qel-I user input platform"},
    {"qeliai-pro", 44332, 38909, "QelP0003", true, false, "Qel-Pro controller with a Qel-IAI synthesiser"},
    {"unknown", 4660, 4661, "Qel0000", true, false, "magic numbers that no hardware database row knows"},
};

Profile FromPreset(const Preset& preset) {
    Profile profile;
    profile.name = preset.name;
    profile.controller_magic = preset.controller;
    profile.synth_magic = preset.synth;
    profile.serial = preset.serial;
    profile.upgrade_channel = preset.upgrade;
    profile.controller_version = FirmwareVersion{2, 3, 47, 2024, 11, 20, 14, 30};
    profile.synth_version = FirmwareVersion{1, 4, 12, 2023, 6, 5, 9, 15};
    if (preset.fast_transfer) {
        FileSystemEntry tone;
        tone.uuid = MakeUuid(0x10);
        tone.points = 1000;
        tone.byte_length = 20000;
        tone.word_a = 1;
        tone.word_b = 2;
        tone.kind = 1;
        tone.name = "tone_a";
        FileSystemEntry sweep;
        sweep.uuid = MakeUuid(0x80);
        sweep.points = 4096;
        sweep.byte_length = 81920;
        sweep.kind = 2;
        sweep.name = "sweep_b";
        profile.file_system = {tone, sweep};
    } else {
        profile.single_image_points = 100;
        profile.single_image_uuid = MakeUuid(0x40);
    }
    profile.eeprom.entries = {EepromEntry{1, false, 10000, 0, "refclk"}};
    return profile;
}

}  // namespace

std::array<std::uint16_t, 4> FirmwareVersion::Words() const {
    return {
        static_cast<std::uint16_t>(((major & 0xFF) << 8) | (minor & 0xFF)),
        static_cast<std::uint16_t>(revision),
        static_cast<std::uint16_t>(((year - 2000) & 0x7F) << 9 | (month & 0x0F) << 5 | (day & 0x1F)),
        static_cast<std::uint16_t>(((hour & 0xFF) << 8) | (minute & 0xFF)),
    };
}

std::vector<std::uint8_t> FileSystemEntry::Bytes() const {
    std::vector<std::uint8_t> out(uuid.begin(), uuid.end());
    PutLe(out, byte_length, 4);
    PutLe(out, points, 4);
    PutLe(out, word_a, 4);
    PutLe(out, word_b, 4);
    out.push_back(kind);
    PutName(out, name, 16);
    return out;
}

std::vector<std::uint8_t> EncodeEepromTable(const EepromTable& table, std::uint16_t synth_magic) {
    if (table.erased) return std::vector<std::uint8_t>(kEepromTableArea, 0xFF);
    std::vector<std::uint8_t> out;
    PutLe(out, table.magic.value_or(synth_magic), 2);
    out.push_back(table.count.value_or(static_cast<std::uint8_t>(std::min<std::size_t>(table.entries.size(), 255))));
    out.push_back(table.version);
    PutLe(out, 0xFFFFFFFF, 4);
    for (const EepromEntry& entry : table.entries) {
        out.push_back(static_cast<std::uint8_t>((entry.type & 0x0F) | (entry.flag ? 0x80 : 0x00)));
        PutLe(out, entry.value_a & 0xFFFFFF, 3);
        PutLe(out, entry.value_b & 0xFFFFFF, 3);
        PutName(out, entry.name, 8);
    }
    // Entries beyond what the area holds are cut off, as the EEPROM would.
    if (out.size() > kEepromTableArea) out.resize(kEepromTableArea);
    return out;
}

std::optional<EepromTable> DecodeEepromTable(std::span<const std::uint8_t> image) {
    if (image.size() < 8) return std::nullopt;
    EepromTable table;
    table.magic = static_cast<std::uint16_t>(GetLe(image, 0, 2));
    table.count = image[2];
    table.version = image[3];
    const std::size_t count = std::min<std::size_t>(image[2], kEepromEntryLimit);
    if (image.size() < 8 + count * kEepromEntrySize) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 8 + i * kEepromEntrySize;
        EepromEntry entry;
        entry.type = image[at] & 0x0F;
        entry.flag = (image[at] & 0x80) != 0;
        entry.value_a = GetLe(image, at + 1, 3);
        entry.value_b = GetLe(image, at + 4, 3);
        for (std::size_t k = 0; k < 8 && image[at + 7 + k] != 0; ++k) entry.name.push_back(static_cast<char>(image[at + 7 + k]));
        table.entries.push_back(std::move(entry));
    }
    return table;
}

void UpgradeTiming::SetAllPhases(std::uint32_t ms) {
    started_ms = initialize_ms = check_id_ms = enter_ms = erase_ms = verify_ms = leave_ms = ms;
}

std::uint32_t Profile::EffectiveImageSize() const {
    if (image_size) return *image_size;
    if (!expected_firmware.empty()) return static_cast<std::uint32_t>(expected_firmware.size());
    return 65536;
}

std::vector<std::string> ProfileNames() {
    std::vector<std::string> names;
    for (const Preset& preset : kPresets) names.emplace_back(preset.name);
    return names;
}

std::string DescribeProfiles() {
    std::ostringstream out;
    for (const Preset& preset : kPresets) {
        out << "  " << preset.name << ": controller " << preset.controller << ", synthesiser " << preset.synth
            << " - " << preset.text << "\n";
    }
    return out.str();
}

std::optional<Profile> ProfileByName(std::string_view name) {
    for (const Preset& preset : kPresets)
        if (name == preset.name) return FromPreset(preset);
    return std::nullopt;
}

Profile DefaultProfile() { return FromPreset(kPresets[0]); }

}  // namespace QelSim
