// The synthesiser's EEPROM: the table set up from a description, read and
// written by the host in 64-byte reports, and kept for the rest of the run.
#include <gtest/gtest.h>

#include "sim/Device.h"
#include "tests/sim/SimHost.h"

namespace {

using namespace QelSimTest;
using Bytes = std::vector<std::uint8_t>;

// The host's read of the whole 512-byte area: eight 64-byte requests.
Bytes ReadArea(QelSim::Device& device) {
    Bytes area;
    for (std::uint16_t offset = 0; offset < 512; offset += 64) {
        const auto answer = Ask(device, Read(0x02, static_cast<std::uint16_t>(0x200 + offset), 64, 0));
        EXPECT_TRUE(answer && IsAcknowledged(*answer));
        area.insert(area.end(), answer->payload.begin(), answer->payload.end());
    }
    return area;
}

void WriteArea(QelSim::Device& device, const Bytes& image) {
    for (std::size_t offset = 0; offset < image.size(); offset += 64) {
        const Bytes chunk(image.begin() + static_cast<std::ptrdiff_t>(offset),
                          image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), offset + 64)));
        EXPECT_TRUE(IsAcknowledged(*Ask(device, Write(0x02, static_cast<std::uint16_t>(0x200 + offset), chunk, 0))));
    }
}

QelSim::EepromTable TableWithAddOnAndClearables() {
    QelSim::EepromTable table;
    table.entries = {
        {15, false, 0, 0, "FX2"},
        {3, true, 197121, 789258, "stoplsm"},
        {2, false, 5, 6, "stoplsm"},
        {3, false, 0xFFFFFF, 1, "alwaowwx"},
    };
    return table;
}

TEST(SimEeprom, TableDescriptionRoundTripsThroughHostReads) {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.eeprom = TableWithAddOnAndClearables();
    QelSim::Device device(profile);
    const Bytes area = ReadArea(device);
    ASSERT_EQ(area.size(), 512u);
    EXPECT_EQ(area, device.EepromTableArea());

    const auto table = QelSim::DecodeEepromTable(area);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->magic, profile.synth_magic);
    EXPECT_EQ(table->version, 1);
    EXPECT_EQ(table->count, 4);
    EXPECT_EQ(table->entries, profile.eeprom.entries);
    // Header and second entry byte for byte.
    EXPECT_EQ(Bytes(area.begin(), area.begin() + 8), (Bytes{0x0F, 0xC5, 4, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(area.begin() + 23, area.begin() + 38),
              (Bytes{0x83, 0x01, 0x02, 0x03, 0x0A, 0x0B, 0x0C, 's', 't', 'o', 'p', 'l', 's', 'm', 0}));
    // Past the table the EEPROM is still erased.
    EXPECT_EQ(area[8 + 4 * 15], 0xFF);
}

TEST(SimEeprom, HostWritesPersistForTheRun) {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.eeprom = TableWithAddOnAndClearables();
    QelSim::Device device(profile);
    const Bytes before = ReadArea(device);

    // The host clears the last two entries and writes a shorter table back.
    QelSim::EepromTable shorter = profile.eeprom;
    shorter.entries.resize(2);
    const Bytes image = QelSim::EncodeEepromTable(shorter, profile.synth_magic);
    ASSERT_EQ(image.size(), 38u);
    WriteArea(device, image);
    EXPECT_EQ(device.GetCounters().eeprom_writes, 1u);

    const Bytes after = ReadArea(device);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 38), image);
    // Bytes past what was written keep their old content.
    EXPECT_EQ(Bytes(after.begin() + 38, after.end()), Bytes(before.begin() + 38, before.end()));
    EXPECT_EQ(QelSim::DecodeEepromTable(after)->entries, shorter.entries);
}

TEST(SimEeprom, DeliberatelyBrokenTablesAreSetUpAsDescribed) {
    struct Case {
        const char* what;
        QelSim::EepromTable table;
        Bytes head;
    };
    QelSim::EepromTable erased;
    erased.erased = true;
    QelSim::EepromTable wrong_magic;
    wrong_magic.magic = 0x1234;
    QelSim::EepromTable bad_version;
    bad_version.version = 2;
    QelSim::EepromTable too_many;
    too_many.count = 40;
    const Case cases[] = {
        {"erased", erased, Bytes(8, 0xFF)},
        {"wrong magic", wrong_magic, {0x34, 0x12, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"format version 2", bad_version, {0x0F, 0xC5, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"count 40", too_many, {0x0F, 0xC5, 40, 1, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Profile profile = QelSim::DefaultProfile();
        profile.eeprom = c.table;
        QelSim::Device device(profile);
        const Bytes area = ReadArea(device);
        EXPECT_EQ(Bytes(area.begin(), area.begin() + 8), c.head);
    }
}

TEST(SimEeprom, AddressTakesItsHighBitsFromContext) {
    QelSim::Device device(QelSim::DefaultProfile());
    EXPECT_TRUE(IsAcknowledged(*Ask(device, Write(0x02, 0x1000, {1, 2, 3}, 0))));
    EXPECT_EQ(device.Eeprom(0x1000, 3), (Bytes{1, 2, 3}));
    // CONTEXT 1 addresses 0x10000 and up, past this part's end.
    EXPECT_TRUE(IsRejected(*Ask(device, Write(0x02, 0x1000, {1, 2, 3}, 1))));
    EXPECT_TRUE(IsRejected(*Ask(device, Read(0x02, 0x0000, 4, 1))));
}

}  // namespace
