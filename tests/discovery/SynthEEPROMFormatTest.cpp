// The synthesiser's EEPROM table image: entry and table parsing, the
// checks that tie an image to its synthesiser, and the image written back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/SynthEEPROM.h"

namespace {

using namespace Qel;
namespace Format = Qel::SynthEEPROMFormat;
using Bytes = std::vector<std::uint8_t>;

const Bytes kMagic{0x0F, 0xC5};  // 50447, low byte first

std::string Padded(std::string text) {
    text.resize(8, '\0');
    return text;
}

SynthEEPROMEntry Parse(const Bytes& image) {
    return Format::ParseEntry(std::span<const std::uint8_t, Format::EntrySize>(image.data(), Format::EntrySize));
}

Bytes Header(std::uint8_t count, std::uint8_t version, const Bytes& magic = kMagic) {
    Bytes area = magic;
    area.push_back(count);
    area.push_back(version);
    area.insert(area.end(), 4, 0xFF);
    return area;
}

Bytes EntryBytes(std::uint8_t first, const std::string& name) {
    Bytes image{first, 1, 0, 0, 2, 0, 0};
    for (std::size_t i = 0; i < 8; ++i) {
        image.push_back(i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
    }
    return image;
}

TEST(SynthEEPROMFormat, EntryImageRoundTrip) {
    const Bytes image{0x83, 0x01, 0x02, 0x03, 0x0A, 0x0B, 0x0C, 'F', 'X', '2', 0, 0, 0, 0, 0};
    const SynthEEPROMEntry entry = Parse(image);
    EXPECT_EQ(entry.Type, 3);
    EXPECT_TRUE(entry.Flag);
    EXPECT_EQ(entry.ValueA, 197121);
    EXPECT_EQ(entry.ValueB, 789258);
    EXPECT_EQ(entry.Name, Padded("FX2"));
    const auto written = Format::EntryImage(entry);
    EXPECT_EQ(Bytes(written.begin(), written.end()), image);
}

TEST(SynthEEPROMFormat, TypeNibbleAndNameRules) {
    struct Case {
        std::uint8_t first;
        Bytes name;
        std::uint8_t type;
        bool flag;
        std::string expected_name;
    };
    const std::vector<Case> cases = {
        {0x01, {'a', 'b'}, 1, false, Padded("ab")},
        {0x02, {'s', 't', 'o', 'p', 'l', 's', 'm'}, 2, false, Padded("stoplsm")},
        {0x0F, {'F', 'X', '2', 'x', 'y'}, 15, false, Padded("FX2xy")},
        {0x70, {'n'}, 0, false, Padded("n")},          // bits 6..4 ignored, type 0
        {0x0E, {'F', 'X', '2'}, 0, false, Padded("FX2")},  // 14 reads as empty
        {0x04, {}, 0, false, Padded("")},
        {0x8F, {0x07, 'A'}, 15, true, Padded(" A")},   // non-printable -> space
        {0x03, {'A', 'B', 0, 'C'}, 3, false, Padded("AB")},  // zero ends the name
        {0x03, {0x7E, 0x7F, 0x20, 0x1F}, 3, false, Padded("~   ")},
        {0xFF, Bytes(8, 0xFF), 15, true, std::string(8, ' ')},
        {0x01, {'1', '2', '3', '4', '5', '6', '7', '8'}, 1, false, "12345678"},
    };
    for (const Case& c : cases) {
        Bytes image{c.first, 0, 0, 0, 0, 0, 0};
        for (std::size_t i = 0; i < 8; ++i) {
            image.push_back(i < c.name.size() ? c.name[i] : 0);
        }
        const SynthEEPROMEntry entry = Parse(image);
        SCOPED_TRACE(static_cast<int>(c.first));
        EXPECT_EQ(entry.Type, c.type);
        EXPECT_EQ(entry.Flag, c.flag);
        EXPECT_EQ(entry.Name, c.expected_name);
        EXPECT_EQ(entry.Name.size(), 8U);
    }
}

TEST(SynthEEPROMFormat, WrittenNameIsCutOrPadded) {
    SynthEEPROMEntry entry;
    entry.Type = 2;
    entry.Name = "abcdefghij";
    auto image = Format::EntryImage(entry);
    EXPECT_EQ(Bytes(image.begin() + 7, image.end()), (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}));
    entry.Name = "ab";
    entry.ValueA = 0x123456;
    entry.ValueB = 0xABCDEF;
    image = Format::EntryImage(entry);
    EXPECT_EQ(Bytes(image.begin(), image.end()),
              (Bytes{0x02, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 'a', 'b', 0, 0, 0, 0, 0, 0}));
}

TEST(SynthEEPROMFormat, TableChecks) {
    Bytes two_entries = Header(2, 1);
    for (const auto& e : {EntryBytes(0x0F, "FX2"), EntryBytes(0x03, "stoplsm")}) {
        two_entries.insert(two_entries.end(), e.begin(), e.end());
    }
    Bytes forty = Header(40, 0);
    for (int i = 0; i < 40; ++i) {
        const Bytes e = EntryBytes(0x01, "e" + std::to_string(i));
        forty.insert(forty.end(), e.begin(), e.end());
    }
    Bytes erased_with_magic = kMagic;
    erased_with_magic.resize(512, 0xFF);

    struct Case {
        const char* what;
        Bytes area;
        Bytes magic;
        bool valid;
        int count;
    };
    const std::vector<Case> cases = {
        {"two entries", two_entries, kMagic, true, 2},
        {"erased area", Bytes(512, 0xFF), kMagic, false, 0},
        {"erased area behind the right magic", erased_with_magic, kMagic, true, 33},
        {"count 40 reads 33", forty, kMagic, true, 33},
        {"version 2", Header(2, 2), kMagic, false, 0},
        {"version 0", Header(0, 0), kMagic, true, 0},
        {"wrong magic", Header(0, 1, {0x10, 0xC5}), kMagic, false, 0},
        {"magic reply of three bytes", Header(0, 1), {0x0F, 0xC5, 0x00}, false, 0},
        {"one byte", {0x0F}, kMagic, false, 0},
        {"no version byte", {0x0F, 0xC5, 0x01}, kMagic, false, 0},
        {"empty", {}, kMagic, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SynthEEPROMTable table = Format::ParseTable(c.area, c.magic);
        EXPECT_EQ(table.Valid, c.valid);
        EXPECT_EQ(table.Count, c.count);
        if (!c.valid) {
            EXPECT_EQ(table, Format::BlankTable());
        }
    }

    const SynthEEPROMTable parsed = Format::ParseTable(two_entries, kMagic);
    EXPECT_EQ(parsed.Version, 1);
    EXPECT_EQ(parsed.Entries[0].Type, 15);
    EXPECT_EQ(parsed.Entries[1].Name, Padded("stoplsm"));
    EXPECT_EQ(parsed.Entries[2], SynthEEPROMEntry{});

    const SynthEEPROMTable erased = Format::ParseTable(erased_with_magic, kMagic);
    EXPECT_EQ(erased.Version, 0xFF);
    for (const SynthEEPROMEntry& e : erased.Entries) {
        EXPECT_EQ(e.Type, 15);
        EXPECT_EQ(e.Name, std::string(8, ' '));
    }
}

TEST(SynthEEPROMFormat, ShortAreaLeavesMissingEntriesBlank) {
    Bytes area = Header(3, 1);
    const Bytes e = EntryBytes(0x01, "one");
    area.insert(area.end(), e.begin(), e.end());
    area.insert(area.end(), 10, 0x02);  // a second entry cut short
    const SynthEEPROMTable table = Format::ParseTable(area, kMagic);
    EXPECT_TRUE(table.Valid);
    EXPECT_EQ(table.Entries[0].Name, Padded("one"));
    EXPECT_EQ(table.Entries[1], SynthEEPROMEntry{});
}

TEST(SynthEEPROMFormat, TableImage) {
    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 2;
    table.Version = 0;  // whatever was read, the image says 1
    table.Entries[0].Type = 3;
    table.Entries[0].Name = "a";
    table.Entries[1].Type = 15;
    table.Entries[1].Name = Padded("FX2");
    table.Entries[2].Type = 1;  // beyond the count: not written
    const Bytes image = Format::TableImage(table, kMagic);
    ASSERT_EQ(image.size(), 38U);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 8), Header(2, 1));
    const SynthEEPROMTable back = Format::ParseTable(image, kMagic);
    EXPECT_EQ(back.Entries[0].Name, Padded("a"));
    EXPECT_EQ(back.Entries[1], table.Entries[1]);
    EXPECT_EQ(back.Entries[2], SynthEEPROMEntry{});

    table.Count = 50;
    EXPECT_EQ(Format::TableImage(table, kMagic).size(), Format::MaxImageSize);
}

}  // namespace
