#include "discovery/HardwareDatabase.h"

#include "discovery/HardwareDatabaseImage.h"
#include "discovery/MemoryVfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Qel::ControllerCaps;
using Qel::FirmwareVersion;
using Qel::LookupMagic;
using Qel::QELController;
using Qel::QELOption;
using Qel::QELSynthesiser;
using Qel::QELSystem;
using Qel::SynthCaps;
using Qel::SynthEEPROMTable;

// Runs a query on the embedded image through the in-memory layer and returns
// every row as texts ("NULL" for NULL).
std::vector<std::vector<std::string>> Query(const std::string& sql) {
    const auto image = Qel::HardwareDatabaseImage();
    Qel::SetMemoryVfsImage(image.data(), static_cast<std::int64_t>(image.size()));
    EXPECT_EQ(Qel::RegisterMemoryVfs(), SQLITE_OK);
    sqlite3* database = nullptr;
    std::vector<std::vector<std::string>> rows;
    if (sqlite3_open_v2("_", &database, SQLITE_OPEN_READONLY, Qel::kMemoryVfsName) == SQLITE_OK) {
        auto collect = [](void* context, int columns, char** values, char**) {
            auto& out = *static_cast<std::vector<std::vector<std::string>>*>(context);
            out.emplace_back();
            for (int i = 0; i < columns; ++i) {
                out.back().emplace_back(values[i] != nullptr ? values[i] : "NULL");
            }
            return 0;
        };
        EXPECT_EQ(sqlite3_exec(database, sql.c_str(), collect, &rows, nullptr), SQLITE_OK) << sql;
    } else {
        ADD_FAILURE() << "cannot open the embedded database";
    }
    sqlite3_close(database);
    return rows;
}

// A system whose records are valid and recognisable, to see what a lookup changes.
QELSystem MarkedSystem() {
    QELSystem system;
    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 1;
    table.Entries[0].Type = 15;
    system.Controller() = QELController("KeepC", "kept controller", ControllerCaps{},
                                        Qel::DecodeVersion({0x0102, 3, 0x2574, 0}), Qel::FileSystemTable(2));
    system.Synthesiser() = QELSynthesiser("KeepS", "kept synthesiser", SynthCaps{},
                                          Qel::DecodeVersion({0x0102, 3, 0x2574, 0}), table,
                                          std::make_shared<const QELOption>("FX2"));
    return system;
}

TEST(HardwareDatabase, ImageHoldsTheElevenRowsInStorageOrder) {
    EXPECT_EQ(Query("PRAGMA page_size"), (std::vector<std::vector<std::string>>{{"1024"}}));
    EXPECT_EQ(Query("PRAGMA encoding"), (std::vector<std::vector<std::string>>{{"UTF-8"}}));
    const std::vector<std::vector<std::string>> expected = {
        {"1193", "Controller", "QelL"},     {"51195", "Synthesiser", "Qel4"},   {"19459", "Synthesiser", "QelI"},
        {"38909", "Synthesiser", "Qel-IAI"}, {"NULL", "Option", "NULL"},        {"44332", "Controller", "QelP"},
        {"53399", "Synthesiser", "Qel4b"},  {"61075", "Synthesiser", "Qel4b"}, {"47596", "Controller", "QelLb"},
        {"50447", "Synthesiser", "Ulix3"},  {"50447", "Controller", "Ulix3"},
    };
    EXPECT_EQ(Query("SELECT Magic, Type, ModelNum FROM hwlist ORDER BY rowid"), expected);
    EXPECT_EQ(Query("SELECT OptionId, Description FROM hwlist WHERE OptionId IS NOT NULL"),
              (std::vector<std::vector<std::string>>{{"0", "RF Amplifier Diagnostics Board"}}));

    // The row conversion goes by column name; the declared types are those of the table.
    const std::vector<std::pair<std::string, std::string>> columns = {
        {"Magic", "INTEGER"},        {"ModelNum", "TEXT"},         {"OptionId", "INTEGER"},
        {"Description", "TEXT"},     {"Type", "TEXT"},             {"nSynth", "INTEGER"},
        {"FastTransfer", "TEXT"},    {"MaxImageSize", "INTEGER"},  {"SimultaneousPlayback", "TEXT"},
        {"MaxImageRate", "INTEGER"}, {"LowerFreq", "INTEGER"},     {"UpperFreq", "INTEGER"},
        {"FreqBits", "INTEGER"},     {"AmplBits", "INTEGER"},      {"PhsBits", "INTEGER"},
        {"LUTDepth", "INTEGER"},     {"LUTAmplBits", "INTEGER"},   {"LUTPhaseBits", "INTEGER"},
        {"LUTSyncAnlgBits", "INTEGER"}, {"LUTSyncDigBits", "INTEGER"}, {"SysClock", "INTEGER"},
        {"Channels", "INTEGER"},     {"RemoteUpgrade", "TEXT"},
    };
    const auto info = Query("SELECT name, type, \"notnull\" FROM pragma_table_info('hwlist')");
    ASSERT_EQ(info.size(), columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(info[i][0], columns[i].first);
        EXPECT_EQ(info[i][1], columns[i].second);
        EXPECT_EQ(info[i][2], columns[i].first == "Type" ? "1" : "0");
    }
    EXPECT_EQ(Query("SELECT count(*) FROM pragma_index_list('hwlist') WHERE \"unique\" = 1"),
              (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST(HardwareDatabase, SharedMagicFillsBothRecordsInOneLookup) {
    QELSystem system;
    ASSERT_TRUE(LookupMagic(system, 50447));

    const QELSynthesiser& s = system.Synthesiser();
    EXPECT_TRUE(s.IsValid());
    EXPECT_EQ(s.Model(), "Ulix3");
    EXPECT_EQ(s.Description(), "Ulix3 Synthesiser");
    EXPECT_DOUBLE_EQ(s.Capabilities().LowerFreq, 10e6);
    EXPECT_DOUBLE_EQ(s.Capabilities().UpperFreq, 160e6);
    EXPECT_DOUBLE_EQ(s.Capabilities().SysClock, 400e6);
    EXPECT_DOUBLE_EQ(s.Capabilities().SyncClock, 100e6);
    EXPECT_EQ(s.Capabilities().Channels, 2);
    EXPECT_EQ(s.Capabilities().LUTDepth, 11);
    EXPECT_TRUE(s.Capabilities().RemoteUpgrade);

    const QELController& c = system.Controller();
    EXPECT_TRUE(c.IsValid());
    EXPECT_EQ(c.Model(), "Ulix3");
    EXPECT_EQ(c.Description(), "Ulix3 Controller");
    EXPECT_EQ(c.Capabilities().nSynth, 1);
    EXPECT_TRUE(c.Capabilities().FastTransfer);
    EXPECT_EQ(c.Capabilities().MaxImageSize, 10000000);
    EXPECT_TRUE(c.Capabilities().SimultaneousPlayback);
    EXPECT_DOUBLE_EQ(c.Capabilities().MaxImageRate, 1000000.0);
    EXPECT_FALSE(c.Capabilities().RemoteUpgrade);
}

TEST(HardwareDatabase, FractionalMegahertzBecomeHertz) {
    QELSystem system;
    ASSERT_TRUE(LookupMagic(system, 53399));
    const SynthCaps& caps = system.Synthesiser().Capabilities();
    EXPECT_DOUBLE_EQ(caps.LowerFreq, 12288000.0);
    EXPECT_DOUBLE_EQ(caps.UpperFreq, 196608000.0);
    EXPECT_DOUBLE_EQ(caps.SysClock, 491520000.0);
    EXPECT_DOUBLE_EQ(caps.SyncClock, 122880000.0);
    EXPECT_EQ(system.Synthesiser().Model(), "Qel4b");
    EXPECT_FALSE(system.Controller().IsValid());

    ASSERT_TRUE(LookupMagic(system, 61075));
    EXPECT_DOUBLE_EQ(system.Synthesiser().Capabilities().LowerFreq, 12500000.0);
    EXPECT_DOUBLE_EQ(system.Synthesiser().Capabilities().UpperFreq, 200660000.0);
}

TEST(HardwareDatabase, NegativeAndNullColumns) {
    QELSystem system;
    ASSERT_TRUE(LookupMagic(system, 19459));
    const SynthCaps& caps = system.Synthesiser().Capabilities();
    EXPECT_EQ(system.Synthesiser().Model(), "QelI");
    EXPECT_DOUBLE_EQ(caps.LowerFreq, 10e6);
    EXPECT_DOUBLE_EQ(caps.UpperFreq, 200e6);
    EXPECT_EQ(caps.FreqBits, -1);
    EXPECT_EQ(caps.AmplBits, -1);
    EXPECT_EQ(caps.PhsBits, -1);
    EXPECT_EQ(caps.LUTDepth, -1);
    // NULL columns keep the defaults.
    EXPECT_EQ(caps.LUTAmplBits, 12);
    EXPECT_EQ(caps.LUTPhaseBits, 14);
    EXPECT_EQ(caps.LUTSyncAnlgBits, 12);
    EXPECT_EQ(caps.LUTSyncDigBits, 12);
    EXPECT_DOUBLE_EQ(caps.SysClock, 500e6);
    EXPECT_DOUBLE_EQ(caps.SyncClock, 125e6);
    EXPECT_EQ(caps.Channels, 4);
}

TEST(HardwareDatabase, ControllerRowLeavesTheSynthesiserAndResetsTheController) {
    QELSystem system = MarkedSystem();
    ASSERT_TRUE(LookupMagic(system, 1193));

    const QELController& c = system.Controller();
    EXPECT_TRUE(c.IsValid());
    EXPECT_EQ(c.Model(), "QelL");
    EXPECT_EQ(c.Description(), "Qel-Lite Controller");
    EXPECT_FALSE(c.Capabilities().FastTransfer);
    EXPECT_EQ(c.Capabilities().MaxImageSize, 4096);
    EXPECT_DOUBLE_EQ(c.Capabilities().MaxImageRate, 250000.0);
    // The row replaces the whole record: version and table go back to unread.
    EXPECT_EQ(c.Version().Major, -1);
    EXPECT_TRUE(c.FileSystem().empty());

    const QELSynthesiser& s = system.Synthesiser();
    EXPECT_EQ(s.Model(), "KeepS");
    EXPECT_EQ(s.Version().Major, 1);
    EXPECT_TRUE(s.EEPROMTable().Valid);
    ASSERT_NE(s.AddOn(), nullptr);
}

TEST(HardwareDatabase, SynthesiserRowResetsVersionTableAndAddOn) {
    QELSystem system = MarkedSystem();
    ASSERT_TRUE(LookupMagic(system, 51195));
    const QELSynthesiser& s = system.Synthesiser();
    EXPECT_EQ(s.Model(), "Qel4");
    EXPECT_EQ(s.Version().Major, -1);
    EXPECT_EQ(s.EEPROMTable(), SynthEEPROMTable{});
    EXPECT_EQ(s.AddOn(), nullptr);
    EXPECT_EQ(system.Controller().Model(), "KeepC");
}

TEST(HardwareDatabase, UnknownMagicSucceedsAndChangesNothing) {
    for (std::uint16_t magic : {0, 1, 0xFFFF}) {
        QELSystem system = MarkedSystem();
        EXPECT_TRUE(LookupMagic(system, magic));
        EXPECT_EQ(system.Controller().Model(), "KeepC");
        EXPECT_EQ(system.Controller().FileSystem().size(), 2u);
        EXPECT_EQ(system.Synthesiser().Model(), "KeepS");
        EXPECT_NE(system.Synthesiser().AddOn(), nullptr);
    }
}

// Feeds one synthetic row to the row callback.
int FeedRow(QELSystem& system, std::vector<const char*> names, std::vector<const char*> values) {
    return Qel::LookupMagicRow(&system, static_cast<int>(names.size()), const_cast<char**>(values.data()),
                               const_cast<char**>(names.data()));
}

TEST(HardwareDatabase, FlagTexts) {
    const std::pair<const char*, bool> cases[] = {
        {"TRUE", true}, {"True", true},  {"true", true}, {"yes", false}, {"1", false},
        {"FALSE", false}, {"tRUE", false}, {"TRUE ", false}, {"", false},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Qel::ConvertFlag(text), expected);
        QELSystem system;
        ASSERT_EQ(FeedRow(system, {"Type", "Type", "FastTransfer", "SimultaneousPlayback", "RemoteUpgrade"},
                          {"Controller", "Controller", text, text, text}),
                  0);
        EXPECT_EQ(system.Controller().Capabilities().FastTransfer, expected);
        EXPECT_EQ(system.Controller().Capabilities().SimultaneousPlayback, expected);
        EXPECT_EQ(system.Controller().Capabilities().RemoteUpgrade, expected);
    }
}

TEST(HardwareDatabase, NumberConversions) {
    struct IntegerCase {
        const char* text;
        bool converts;
        int value;
    };
    const IntegerCase integers[] = {
        {"4096", true, 4096},      {"12.5", true, 12},   {"  -7", true, -7},   {"+3x", true, 3},
        {"2147483647", true, 2147483647}, {"2147483648", false, 99}, {"-2147483649", false, 99},
        {"abc", false, 99},        {"", false, 99},      {"-", false, 99},
    };
    for (const IntegerCase& c : integers) {
        SCOPED_TRACE(c.text);
        int value = 99;
        EXPECT_EQ(Qel::ConvertInteger(c.text, value), c.converts);
        EXPECT_EQ(value, c.value);
    }

    struct DecimalCase {
        const char* text;
        bool converts;
        double value;
    };
    const DecimalCase decimals[] = {
        {"12.288", true, 12.288}, {"200", true, 200.0}, {"491.52", true, 491.52}, {" -1", true, -1.0},
        {"1e999", false, 7.0},    {"x", false, 7.0},    {"", false, 7.0},
    };
    for (const DecimalCase& c : decimals) {
        SCOPED_TRACE(c.text);
        double value = 7.0;
        EXPECT_EQ(Qel::ConvertDecimal(c.text, value), c.converts);
        EXPECT_DOUBLE_EQ(value, c.value);
    }
}

TEST(HardwareDatabase, RowCallbackRules) {
    QELSystem system = MarkedSystem();
    // Malformed rows abort the query.
    EXPECT_EQ(FeedRow(system, {"Type"}, {"Controller"}), -1);
    EXPECT_EQ(FeedRow(system, {"Kind", "Type"}, {"Controller", "Controller"}), -1);
    // Rows of other kinds change nothing.
    EXPECT_EQ(FeedRow(system, {"Type", "Description"}, {"Option", "RF Amplifier Diagnostics Board"}), 0);
    EXPECT_EQ(FeedRow(system, {"Type", "Description"}, {nullptr, "nothing"}), 0);
    EXPECT_EQ(system.Controller().Model(), "KeepC");
    EXPECT_EQ(system.Synthesiser().Model(), "KeepS");

    // A column the kind does not read is ignored; a text that does not convert
    // keeps the default; MaxImageRate takes the integer part.
    ASSERT_EQ(FeedRow(system, {"Type", "ModelNum", "LowerFreq", "nSynth", "MaxImageSize", "MaxImageRate"},
                      {"Controller", "M", "99", "two", "-5", "12.5"}),
              0);
    const ControllerCaps& caps = system.Controller().Capabilities();
    EXPECT_EQ(system.Controller().Model(), "M");
    EXPECT_EQ(system.Controller().Description(), "");
    EXPECT_EQ(caps.nSynth, 1);
    EXPECT_EQ(caps.MaxImageSize, -5);
    EXPECT_DOUBLE_EQ(caps.MaxImageRate, 12.0);

    // The later row of one kind wins.
    ASSERT_EQ(FeedRow(system, {"Type", "ModelNum", "SysClock"}, {"Synthesiser", "first", "100"}), 0);
    ASSERT_EQ(FeedRow(system, {"Type", "ModelNum"}, {"Synthesiser", "second"}), 0);
    EXPECT_EQ(system.Synthesiser().Model(), "second");
    EXPECT_DOUBLE_EQ(system.Synthesiser().Capabilities().SysClock, 500e6);
}

}  // namespace
