// The identity query and the synthesiser's EEPROM table against the
// simulated system, through the loopback transport. Expected identities come
// from the hardware database rows, not from the code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <boost/log/core.hpp>

#include "SimBench.h"
#include "discovery/EEPROM.h"
#include "discovery/SynthEEPROM.h"
#include "sim/Profile.h"

namespace {

using namespace Qel;
using QelTest::HostRequest;
using QelTest::PeerReply;
using QelTest::SimBench;
using Bytes = std::vector<std::uint8_t>;

// The engine's traffic log would bury a failure's message.
class QuietLog : public ::testing::Environment {
public:
    void SetUp() override { boost::log::core::get()->set_logging_enabled(false); }
};
[[maybe_unused]] const ::testing::Environment* const kQuietLog = ::testing::AddGlobalTestEnvironment(new QuietLog);

constexpr std::uint8_t kEEPROMType = 0x02;
constexpr double MHz = 1000000.0;

QelSim::Profile Profile(const std::string& name) {
    auto profile = QelSim::ProfileByName(name);
    EXPECT_TRUE(profile.has_value()) << name;
    return profile.value_or(QelSim::DefaultProfile());
}

QelSim::EepromEntry Entry(std::uint8_t type, const std::string& name, bool flag = false) {
    return QelSim::EepromEntry{type, flag, 0x010203, 0x0A0B0C, name};
}

std::string Padded(std::string text) {
    text.resize(8, '\0');
    return text;
}

// The simulated EEPROM table area as the device holds it.
QelSim::EepromTable DeviceTable(SimBench& bench) {
    const Bytes area = bench.peer->WithDevice([](QelSim::Device& d) { return d.EepromTableArea(); });
    auto table = QelSim::DecodeEepromTable(area);
    EXPECT_TRUE(table.has_value());
    return table.value_or(QelSim::EepromTable{});
}

bool IsReadOf(const HostRequest& r, std::uint8_t type, std::uint16_t addr) {
    return r.read && r.type == type && r.addr == addr;
}

// --- Every profile --------------------------------------------------------

struct ExpectedIdentity {
    const char* profile;
    const char* controller_model;
    const char* controller_description;
    bool fast_transfer;
    const char* synth_model;
    const char* synth_description;
    double lower_mhz;
    double upper_mhz;
    double sys_clock_mhz;
};

// From the hardware database rows.
const ExpectedIdentity kIdentities[] = {
    {"ulix3", "Ulix3", "Ulix3 Controller", true, "Ulix3", "Ulix3 Synthesiser", 10, 160, 400},
    {"qel4-lite", "QelL", "Qel-Lite Controller", false, "Qel4", "Qel-4 10-200MHz 4-Channel RF Synthesiser", 12.5,
     200, 500},
    {"qel4b-liteb", "QelLb", "Qel-Lite Controller", false, "Qel4b", "Qel-4b 12.5-200MHz 4-Channel RF Synthesiser",
     12.5, 200.66, 491.52},
    {"qel4b-pro", "QelP", "Qel-Pro Controller", true, "Qel4b", "Qel-4b 12.5-200MHz 4-Channel RF Synthesiser", 12.288,
     196.608, 491.52},
    {"qeli-pro", "QelP", "Qel-Pro Controller", true, "QelI", "Qel-I User Input 1:4 RF Platform", 10, 200, 500},
    {"qeliai-pro", "QelP", "Qel-Pro Controller", true, "Qel-IAI", "Qel-IAI 45-95MHz 4 Channel RF Synthesiser", 45, 95,
     400},
    {"unknown", "Null", "Invalid", false, "Null", "Invalid", 0, 250, 500},
};

TEST(IdentityQuery, EveryProfileOfTheSimulatedSystem) {
    std::vector<std::string> covered;
    for (const ExpectedIdentity& e : kIdentities) {
        SCOPED_TRACE(e.profile);
        covered.emplace_back(e.profile);
        const QelSim::Profile profile = Profile(e.profile);
        SimBench bench(profile);
        ASSERT_TRUE(bench.system.QueryIdentity());

        const QELController& controller = bench.system.Controller();
        EXPECT_TRUE(controller.IsValid());
        EXPECT_EQ(controller.Model(), e.controller_model);
        EXPECT_EQ(controller.Description(), e.controller_description);
        EXPECT_EQ(controller.Capabilities().FastTransfer, e.fast_transfer);
        const auto cw = profile.controller_version;
        EXPECT_EQ(controller.Version().Major, cw.major);
        EXPECT_EQ(controller.Version().Minor, cw.minor);
        EXPECT_EQ(controller.Version().Revision, cw.revision);
        EXPECT_EQ(controller.Version().BuildTime.tm_year, cw.year - 1900);
        EXPECT_EQ(controller.Version().BuildTime.tm_mon, cw.month - 1);
        EXPECT_EQ(controller.Version().BuildTime.tm_mday, cw.day);
        EXPECT_EQ(controller.Version().BuildTime.tm_hour, cw.hour);
        EXPECT_EQ(controller.Version().BuildTime.tm_min, cw.minute);

        const FileSystemTable& fs = controller.FileSystem();
        if (std::string(e.controller_model) == "Null") {
            EXPECT_TRUE(fs.empty());  // no row: nothing known about its store
        } else if (e.fast_transfer) {
            ASSERT_EQ(fs.size(), profile.file_system.size());
            for (std::size_t i = 0; i < fs.size(); ++i) {
                const QelSim::FileSystemEntry& src = profile.file_system[i];
                EXPECT_EQ(fs[i].Index, static_cast<int>(i));
                EXPECT_EQ(fs[i].Uuid, src.uuid);
                EXPECT_EQ(fs[i].ByteLength, static_cast<int>(src.byte_length));
                EXPECT_EQ(fs[i].Points, static_cast<int>(src.points));
                EXPECT_EQ(fs[i].WordA, static_cast<int>(src.word_a));
                EXPECT_EQ(fs[i].WordB, static_cast<int>(src.word_b));
                EXPECT_EQ(fs[i].Kind, src.kind);
                std::string name = src.name;
                name.resize(16, '\0');  // every remaining byte, zeros included
                EXPECT_EQ(fs[i].Name, name);
            }
        } else {
            ASSERT_EQ(fs.size(), 1U);
            EXPECT_EQ(fs[0].Name, "solo_img");
            EXPECT_EQ(fs[0].Points, profile.single_image_points);
            EXPECT_EQ(fs[0].ByteLength, profile.single_image_points * 20);
            EXPECT_EQ(fs[0].Uuid, profile.single_image_uuid);
            EXPECT_EQ(fs[0].Index, 0);
        }

        const QELSynthesiser& synth = bench.system.Synthesiser();
        EXPECT_TRUE(synth.IsValid());
        EXPECT_EQ(synth.Model(), e.synth_model);
        EXPECT_EQ(synth.Description(), e.synth_description);
        EXPECT_DOUBLE_EQ(synth.Capabilities().LowerFreq, e.lower_mhz * MHz);
        EXPECT_DOUBLE_EQ(synth.Capabilities().UpperFreq, e.upper_mhz * MHz);
        EXPECT_DOUBLE_EQ(synth.Capabilities().SysClock, e.sys_clock_mhz * MHz);
        EXPECT_EQ(synth.Version().Major, profile.synth_version.major);
        EXPECT_EQ(synth.Version().Minor, profile.synth_version.minor);
        EXPECT_EQ(synth.Version().Revision, profile.synth_version.revision);
        EXPECT_EQ(synth.AddOn(), nullptr);

        // The table is read only for a synthesiser the database knows.
        const SynthEEPROMTable& table = synth.EEPROMTable();
        if (std::string(e.synth_model) == "Null") {
            EXPECT_FALSE(table.Valid);
        } else {
            EXPECT_TRUE(table.Valid);
            ASSERT_EQ(table.Count, profile.eeprom.entries.size());
            EXPECT_EQ(table.Entries[0].Type, profile.eeprom.entries[0].type);
            EXPECT_EQ(table.Entries[0].Name, Padded(profile.eeprom.entries[0].name));
            EXPECT_EQ(table.Entries[0].ValueA, static_cast<int>(profile.eeprom.entries[0].value_a));
        }
        EXPECT_TRUE(bench.RequestsOfType(kEEPROMType).empty() == (std::string(e.synth_model) == "Null"));
        EXPECT_EQ(bench.peer->WithDevice([](QelSim::Device& d) { return d.GetCounters().eeprom_writes; }), 0U);
    }
    std::vector<std::string> names = QelSim::ProfileNames();
    std::sort(names.begin(), names.end());
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(covered, names) << "a profile of the simulated system is not checked";
}

// The combined board: a second lookup of 50447 would replace the controller
// record by the bare database row (unread version, no file-system table).
TEST(IdentityQuery, SharedMagicNumberIsLookedUpOnce) {
    SimBench bench(Profile("ulix3"));
    ASSERT_TRUE(bench.system.QueryIdentity());
    EXPECT_EQ(bench.system.Controller().Version().Major, 2);
    EXPECT_EQ(bench.system.Controller().FileSystem().size(), 2U);
    EXPECT_EQ(bench.system.Synthesiser().Model(), "Ulix3");
    EXPECT_TRUE(bench.system.Synthesiser().Capabilities().RemoteUpgrade);
    EXPECT_DOUBLE_EQ(bench.system.Synthesiser().Capabilities().SyncClock, 100 * MHz);
    EXPECT_EQ(bench.system.Controller().Capabilities().MaxImageSize, 10000000);
}

// --- Add-on ---------------------------------------------------------------

TEST(IdentityQuery, FX2AddOnDoublesRangeAndSystemClock) {
    struct Case {
        const char* what;
        std::vector<QelSim::EepromEntry> entries;
        bool add_on;
        double factor;
    };
    const std::vector<Case> cases = {
        {"FX2", {Entry(1, "refclk"), Entry(15, "FX2")}, true, 2},
        {"FX2 and more characters", {Entry(15, "FX2board")}, true, 2},
        {"two FX2 entries", {Entry(15, "FX2"), Entry(15, "FX2")}, true, 4},
        {"type 14 reads as empty", {Entry(14, "FX2")}, false, 1},
        {"type 3 named FX2", {Entry(3, "FX2")}, false, 1},
        {"FX", {Entry(15, "FX")}, false, 1},
        {"no entries", {}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Profile profile = Profile("ulix3");
        profile.eeprom.entries = c.entries;
        SimBench bench(profile);
        ASSERT_TRUE(bench.system.QueryIdentity());
        const QELSynthesiser& synth = bench.system.Synthesiser();
        ASSERT_TRUE(synth.IsValid());
        EXPECT_DOUBLE_EQ(synth.Capabilities().LowerFreq, 10 * MHz * c.factor);
        EXPECT_DOUBLE_EQ(synth.Capabilities().UpperFreq, 160 * MHz * c.factor);
        EXPECT_DOUBLE_EQ(synth.Capabilities().SysClock, 400 * MHz * c.factor);
        EXPECT_DOUBLE_EQ(synth.Capabilities().SyncClock, 100 * MHz);
        if (c.add_on) {
            ASSERT_NE(synth.AddOn(), nullptr);
            EXPECT_EQ(synth.AddOn()->Name(), "FX2");
        } else {
            EXPECT_EQ(synth.AddOn(), nullptr);
        }
        EXPECT_EQ(synth.Model(), "Ulix3");
    }
}

// --- Cleaning the table -----------------------------------------------------

TEST(IdentityQuery, ClearsTheTwoType3NamesEachWithItsOwnWrite) {
    QelSim::Profile profile = Profile("qel4b-pro");
    profile.eeprom.entries = {Entry(2, "stoplsm"), Entry(3, "stoplsm"), Entry(1, "refclk"),
                              Entry(3, "alwaowwX", true)};
    SimBench bench(profile);
    ASSERT_TRUE(bench.system.QueryIdentity());

    const SynthEEPROMTable table = bench.system.Synthesiser().EEPROMTable();
    EXPECT_TRUE(table.Valid);
    EXPECT_EQ(table.Count, 3);
    EXPECT_EQ(table.Entries[0].Type, 2);
    EXPECT_EQ(table.Entries[0].Name, Padded("stoplsm"));
    EXPECT_EQ(table.Entries[1], SynthEEPROMEntry{});
    EXPECT_EQ(table.Entries[2].Name, Padded("refclk"));
    EXPECT_EQ(table.Entries[3], SynthEEPROMEntry{});

    // First clear: still four entries in use (68 bytes: 64 + 4); second: the
    // highest is gone, three remain (53 bytes).
    std::vector<std::uint16_t> lengths;
    std::vector<std::uint16_t> addresses;
    for (const HostRequest& r : bench.RequestsOfType(kEEPROMType)) {
        if (!r.read) {
            lengths.push_back(r.len);
            addresses.push_back(r.addr);
            EXPECT_EQ(r.payload.size(), r.len);
        }
    }
    EXPECT_EQ(lengths, (std::vector<std::uint16_t>{64, 4, 53}));
    EXPECT_EQ(addresses, (std::vector<std::uint16_t>{0x200, 0x240, 0x200}));

    const QelSim::EepromTable stored = DeviceTable(bench);
    EXPECT_EQ(stored.version, 1);
    ASSERT_EQ(stored.count, 3);
    ASSERT_EQ(stored.entries.size(), 3U);
    EXPECT_EQ(stored.entries[0], Entry(2, "stoplsm"));
    EXPECT_EQ(stored.entries[1], (QelSim::EepromEntry{0, false, 0, 0, ""}));
    EXPECT_EQ(stored.entries[2], Entry(1, "refclk"));
    EXPECT_EQ(stored.magic, 53399);

    // A second query finds the cleaned table and writes nothing.
    const std::size_t writes = bench.peer->WithDevice([](QelSim::Device& d) { return d.GetCounters().eeprom_writes; });
    ASSERT_TRUE(bench.system.QueryIdentity());
    EXPECT_EQ(bench.peer->WithDevice([](QelSim::Device& d) { return d.GetCounters().eeprom_writes; }), writes);
    const SynthEEPROMTable again = bench.system.Synthesiser().EEPROMTable();
    EXPECT_EQ(again.Count, 3);
    for (std::size_t i = 0; i < again.Entries.size(); ++i) {
        EXPECT_EQ(again.Entries[i].Type, table.Entries[i].Type) << i;
        // A blank entry inside the count reads back with eight zero characters.
        EXPECT_EQ(std::string(again.Entries[i].Name.c_str()), std::string(table.Entries[i].Name.c_str())) << i;
    }
}

// --- Partial answers ----------------------------------------------------------

TEST(IdentityQuery, UnansweredRegistersEndTheirPartOfTheQuery) {
    struct Case {
        const char* what;
        const char* profile;
        std::uint8_t silent_type;
        std::uint16_t silent_addr;
        bool controller_valid;
        bool synth_valid;
        const char* synth_model;
    };
    const std::vector<Case> cases = {
        {"controller version", "qel4b-pro", 0x11, 5, false, true, "Qel4b"},
        {"controller version, shared magic number", "ulix3", 0x11, 5, false, true, "Ulix3"},
        {"controller magic", "qel4-lite", 0x11, 0, false, true, "Qel4"},
        {"synthesiser version", "qel4b-pro", 0x07, 5, true, false, "Null"},
        {"synthesiser magic", "qel4-lite", 0x07, 0, true, false, "Null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBench bench(Profile(c.profile));
        const std::uint8_t type = c.silent_type;
        const std::uint16_t addr = c.silent_addr;
        bench.peer->SetOverride([type, addr](const HostRequest& r) -> std::optional<std::vector<PeerReply>> {
            if (IsReadOf(r, type, addr)) {
                return std::vector<PeerReply>{};
            }
            return std::nullopt;
        });
        ASSERT_TRUE(bench.system.QueryIdentity());
        EXPECT_EQ(bench.system.Controller().IsValid(), c.controller_valid);
        if (!c.controller_valid) {
            EXPECT_EQ(bench.system.Controller().Model(), "Null");
            EXPECT_TRUE(bench.system.Controller().FileSystem().empty());
            EXPECT_EQ(bench.system.Controller().Version().Major, -1);
        }
        EXPECT_EQ(bench.system.Synthesiser().IsValid(), c.synth_valid);
        EXPECT_EQ(bench.system.Synthesiser().Model(), c.synth_model);
        if (c.synth_valid) {
            EXPECT_TRUE(bench.system.Synthesiser().EEPROMTable().Valid);
        }
    }
}

TEST(IdentityQuery, UnitThatAnswersNothingStaysInvalid) {
    QelSim::Faults faults;
    faults.silent_from_message = 1;
    SimBench bench(Profile("ulix3"), faults);
    EXPECT_TRUE(bench.system.QueryIdentity());
    EXPECT_FALSE(bench.system.Controller().IsValid());
    EXPECT_FALSE(bench.system.Synthesiser().IsValid());
    EXPECT_TRUE(bench.RequestsOfType(kEEPROMType).empty());
}

TEST(IdentityQuery, FileSystemEntriesRejectedOrShort) {
    QelSim::Profile profile = Profile("qel4b-pro");
    QelSim::FileSystemEntry third;
    third.uuid.fill(0x33);
    third.byte_length = 0x01020304;
    third.points = 77;
    third.name = "third";
    profile.file_system.push_back(third);
    SimBench bench(profile);
    bench.peer->SetOverride([](const HostRequest& r) -> std::optional<std::vector<PeerReply>> {
        if (!(r.read && r.type == 0x15 && r.context == 2)) {
            return std::nullopt;
        }
        if (r.addr == 0) {  // Rejected: HDR bits 6..5 = 01
            return std::vector<PeerReply>{{QelTest::DeviceFrame(0x05, 0x25, r.addr, {}), {}}};
        }
        if (r.addr == 2) {  // 20 bytes: the UUID and the byte length only
            const Bytes payload{0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33,
                                0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x04, 0x03, 0x02, 0x01};
            return std::vector<PeerReply>{{QelTest::DeviceFrame(0x05, 0x45, r.addr, payload), {}}};
        }
        return std::nullopt;
    });
    ASSERT_TRUE(bench.system.QueryIdentity());
    const FileSystemTable& fs = bench.system.Controller().FileSystem();
    ASSERT_EQ(fs.size(), 2U);
    EXPECT_EQ(fs[0].Index, 1);
    EXPECT_EQ(fs[0].Points, 4096);
    EXPECT_EQ(fs[1].Index, 2);
    EXPECT_EQ(fs[1].Uuid, third.uuid);
    EXPECT_EQ(fs[1].ByteLength, 0x01020304);
    EXPECT_EQ(fs[1].Points, 0);
    EXPECT_EQ(fs[1].Kind, 0);
    EXPECT_TRUE(fs[1].Name.empty());

    // Every index was asked, the rejected one included.
    std::vector<std::uint16_t> asked;
    for (const HostRequest& r : bench.RequestsOfType(0x15)) {
        if (r.context == 2) {
            asked.push_back(r.addr);
            EXPECT_EQ(r.len, 49);
        }
    }
    EXPECT_EQ(asked, (std::vector<std::uint16_t>{0, 1, 2}));
}

// --- The EEPROM table through the simulated system ----------------------------

SynthEEPROMTable ReadTable(SimBench& bench) {
    bench.system.Synthesiser() = QELSynthesiser("m", "d", SynthCaps{}, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
    SynthEEPROMReader reader(bench.system);
    const SynthEEPROMTable table = reader.Read();
    // Every event has been delivered once the threads are joined: only then
    // does the reader leave the manager's lists.
    bench.transport->Disconnect();
    return table;
}

TEST(SynthEEPROMTable, ReadThroughTheSimulatedSystem) {
    std::vector<QelSim::EepromEntry> forty;
    for (int i = 0; i < 40; ++i) {
        forty.push_back(Entry(1, "e" + std::to_string(i)));
    }
    struct Case {
        const char* what;
        QelSim::EepromTable table;
        bool valid;
        int count;
    };
    QelSim::EepromTable erased;
    erased.erased = true;
    QelSim::EepromTable count40;
    count40.entries = forty;
    QelSim::EepromTable version2;
    version2.version = 2;
    version2.entries = {Entry(15, "FX2")};
    QelSim::EepromTable wrong_magic;
    wrong_magic.magic = 1234;
    wrong_magic.entries = {Entry(15, "FX2")};
    QelSim::EepromTable erased_version;
    erased_version.version = 0xFF;
    erased_version.entries = {Entry(3, "stoplsm")};
    const std::vector<Case> cases = {
        {"erased", erased, false, 0},
        {"count 40", count40, true, 33},
        {"version byte 2", version2, false, 0},
        {"wrong magic number", wrong_magic, false, 0},
        {"version byte 255", erased_version, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Profile profile = Profile("qel4b-pro");
        profile.eeprom = c.table;
        SimBench bench(profile);
        const SynthEEPROMTable table = ReadTable(bench);
        EXPECT_EQ(table.Valid, c.valid);
        EXPECT_EQ(table.Count, c.count);
        if (c.count == 33) {
            EXPECT_EQ(table.Entries[32].Name, Padded("e32"));
        }
    }
}

TEST(SynthEEPROMTable, ReadRequestsCoverTheAreaIn64ByteSteps) {
    SimBench bench(Profile("ulix3"));
    const SynthEEPROMTable table = ReadTable(bench);
    EXPECT_TRUE(table.Valid);
    std::vector<std::uint16_t> addresses;
    for (const HostRequest& r : bench.RequestsOfType(kEEPROMType)) {
        EXPECT_TRUE(r.read);
        EXPECT_EQ(r.len, 64);
        EXPECT_EQ(r.context, 0);
        addresses.push_back(r.addr);
    }
    EXPECT_EQ(addresses, (std::vector<std::uint16_t>{0x200, 0x240, 0x280, 0x2C0, 0x300, 0x340, 0x380, 0x3C0}));
}

// Waits for the EEPROM's own events.
class Recorder : public IEventHandler {
public:
    void OnEvent(void*, int event, int param) override {
        std::lock_guard<std::mutex> guard(mutex);
        events.emplace_back(event, param);
        changed.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> guard(mutex);
        return changed.wait_for(guard, bound, [&] { return events.size() >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, int>> events;
};

TEST(EEPROMThroughSimulator, WriteLandsInTheDeviceAndReadFindsIt) {
    SimBench bench(Profile("ulix3"));
    bench.system.Synthesiser() = QELSynthesiser("m", "d", SynthCaps{}, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
    Recorder recorder;
    Bytes data(100);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0xA0 ^ i);
    }
    {
        EEPROM eeprom(bench.system);
        for (int e = 0; e < EEPROMEvent::Count; ++e) {
            eeprom.Subscribe(e, &recorder);
        }
        eeprom.SetEEPROMData(data);
        ASSERT_TRUE(eeprom.WriteEEPROM());
        ASSERT_TRUE(recorder.WaitFor(1, std::chrono::seconds(10)));
        EXPECT_EQ(recorder.events[0].first, EEPROMEvent::WriteDone);

        const int last = eeprom.ReadEEPROM();
        ASSERT_GT(last, 0);
        ASSERT_TRUE(recorder.WaitFor(2, std::chrono::seconds(10)));
        EXPECT_EQ(recorder.events[1], std::make_pair(static_cast<int>(EEPROMEvent::ReadDone), last));
        const Bytes read = eeprom.EEPROMData();
        ASSERT_EQ(read.size(), 512U);
        EXPECT_EQ(Bytes(read.begin(), read.begin() + 100), data);
        bench.transport->Disconnect();
    }
    const Bytes stored = bench.peer->WithDevice([](QelSim::Device& d) { return d.Eeprom(0x200, 100); });
    EXPECT_EQ(stored, data);
    std::vector<std::pair<std::uint16_t, std::uint16_t>> writes;
    for (const HostRequest& r : bench.RequestsOfType(kEEPROMType)) {
        if (!r.read) {
            writes.emplace_back(r.addr, r.len);
        }
    }
    EXPECT_EQ(writes, (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{0x200, 64}, {0x240, 36}}));
}

TEST(EEPROMThroughSimulator, ThirdReadRequestTimingOutEndsWithOneTransferError) {
    SimBench bench(Profile("ulix3"));
    bench.system.Synthesiser() = QELSynthesiser("m", "d", SynthCaps{}, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
    bench.peer->SetOverride([](const HostRequest& r) -> std::optional<std::vector<PeerReply>> {
        if (IsReadOf(r, kEEPROMType, 0x280)) {
            return std::vector<PeerReply>{};
        }
        return std::nullopt;
    });
    Recorder recorder;
    {
        EEPROM eeprom(bench.system);
        for (int e = 0; e < EEPROMEvent::Count; ++e) {
            eeprom.Subscribe(e, &recorder);
        }
        const int last = eeprom.ReadEEPROM();
        ASSERT_TRUE(recorder.WaitFor(1, std::chrono::seconds(10)));
        // Joining the transport's threads ends every delivery that could follow.
        bench.transport->Disconnect();
        EXPECT_EQ(recorder.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::TransferError, last}}));
    }
}

}  // namespace
