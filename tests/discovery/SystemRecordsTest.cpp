#include "discovery/QELSystem.h"

#include "messaging/IConnectionManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Qel::ControllerCaps;
using Qel::FileSystemEntry;
using Qel::FileSystemTable;
using Qel::FirmwareVersion;
using Qel::QELController;
using Qel::QELOption;
using Qel::QELSynthesiser;
using Qel::QELSystem;
using Qel::SynthCaps;
using Qel::SynthEEPROMTable;

class MockConnectionManager : public Qel::IConnectionManager {
public:
    MOCK_METHOD(const std::string&, Ident, (), (const, override));
    MOCK_METHOD(std::vector<QELSystem>, Discover, (const Qel::NamedList<std::string>&), (override));
    MOCK_METHOD(void, Connect, (const std::string&), (override));
    MOCK_METHOD(void, Disconnect, (), (override));
    MOCK_METHOD(int, Send, (const Qel::HostReport&), (override));
    MOCK_METHOD(Qel::DeviceReport, SendAndWait, (const Qel::HostReport&), (override));
    MOCK_METHOD(Qel::DeviceReport, Response, (int), (override));
    MOCK_METHOD(bool, TransferToDevice, (Qel::TransferData&, std::uint32_t, int, const std::uint8_t*), (override));
    MOCK_METHOD(bool, TransferFromDevice, (Qel::TransferData&, int, int, int, const std::uint8_t*), (override));
    MOCK_METHOD(int, TransferSupport, (), (override));
    MOCK_METHOD(const std::atomic<bool>&, IsOpen, (), (const, override));
    MOCK_METHOD(bool, Subscribe, (int, Qel::IEventHandler*), (override));
    MOCK_METHOD(void, Unsubscribe, (int, Qel::IEventHandler*), (override));
};

FileSystemTable OneImageTable() {
    FileSystemEntry entry;
    entry.Index = 0;
    entry.Points = 100;
    entry.ByteLength = 2000;
    entry.Uuid[0] = 0xAB;
    entry.Name = "solo_img";
    return {entry};
}

SynthEEPROMTable TableWithAddOnEntry() {
    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 1;
    table.Version = 1;
    table.Entries[0].Type = 15;
    table.Entries[0].Name = std::string("FX2\0\0\0\0\0", 8);
    return table;
}

TEST(SystemRecords, DefaultRecordsAreInvalidWithDefaultValues) {
    const QELSystem system;
    EXPECT_EQ(system.PortName(), "");
    EXPECT_EQ(system.Conn(), nullptr);

    const QELController& controller = system.Controller();
    EXPECT_FALSE(controller.IsValid());
    EXPECT_EQ(controller.Model(), "Null");
    EXPECT_EQ(controller.Description(), "Invalid");
    EXPECT_EQ(controller.Version().Major, -1);
    EXPECT_TRUE(controller.FileSystem().empty());
    const ControllerCaps& cc = controller.Capabilities();
    EXPECT_EQ(cc.nSynth, 1);
    EXPECT_FALSE(cc.FastTransfer);
    EXPECT_EQ(cc.MaxImageSize, 4096);
    EXPECT_FALSE(cc.SimultaneousPlayback);
    EXPECT_DOUBLE_EQ(cc.MaxImageRate, 250.0);
    EXPECT_FALSE(cc.RemoteUpgrade);
    EXPECT_EQ(controller.SettingsKinds().Items(), (std::vector<std::string>{"CS_RS422", "CS_ETH"}));

    const QELSynthesiser& synthesiser = system.Synthesiser();
    EXPECT_FALSE(synthesiser.IsValid());
    EXPECT_EQ(synthesiser.Model(), "Null");
    EXPECT_EQ(synthesiser.Description(), "Invalid");
    EXPECT_EQ(synthesiser.Version().Major, -1);
    EXPECT_EQ(synthesiser.AddOn(), nullptr);
    EXPECT_EQ(synthesiser.EEPROMTable(), SynthEEPROMTable{});
    EXPECT_FALSE(synthesiser.EEPROMTable().Valid);
    const SynthCaps& sc = synthesiser.Capabilities();
    EXPECT_DOUBLE_EQ(sc.LowerFreq, 0.0);
    EXPECT_DOUBLE_EQ(sc.UpperFreq, 250e6);
    EXPECT_DOUBLE_EQ(sc.SysClock, 500e6);
    EXPECT_DOUBLE_EQ(sc.SyncClock, 125e6);
    EXPECT_EQ(sc.Channels, 4);

    const QELSystem::SettingsTable expected{{"CS_ETH", std::make_pair(32, 13)}, {"CS_RS422", std::make_pair(16, 4)}};
    EXPECT_EQ(system.Settings(), expected);
    EXPECT_EQ(QELSystem(system).Settings(), expected);
}

TEST(SystemRecords, ConstructionFromValuesMakesValidRecords) {
    ControllerCaps caps;
    caps.FastTransfer = true;
    const FirmwareVersion version = Qel::DecodeVersion({0x0203, 47, 0x2574, 0x0E1E});
    const QELController controller("QelP", "Qel-Pro Controller", caps, version, OneImageTable());
    EXPECT_TRUE(controller.IsValid());
    EXPECT_EQ(controller.Model(), "QelP");
    EXPECT_TRUE(controller.Capabilities().FastTransfer);
    EXPECT_EQ(controller.Version().Revision, 47);
    ASSERT_EQ(controller.FileSystem().size(), 1u);
    EXPECT_EQ(controller.FileSystem()[0].Name, "solo_img");

    const QELSynthesiser with_add_on("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, version, TableWithAddOnEntry(),
                                     std::make_shared<const QELOption>("FX2"));
    EXPECT_TRUE(with_add_on.IsValid());
    EXPECT_EQ(with_add_on.EEPROMTable(), TableWithAddOnEntry());
    const auto add_on = with_add_on.AddOn();
    ASSERT_NE(add_on, nullptr);
    EXPECT_EQ(add_on->Name(), "FX2");
    EXPECT_NE(with_add_on.AddOn(), add_on);  // a new option each time

    const QELSynthesiser without_add_on("Qel4", "d", SynthCaps{}, version, SynthEEPROMTable{}, nullptr);
    EXPECT_TRUE(without_add_on.IsValid());
    EXPECT_EQ(without_add_on.AddOn(), nullptr);
}

TEST(SystemRecords, CopiesAreDeepAndShareTheManager) {
    MockConnectionManager manager;
    QELSystem source(&manager, "1234:192.168.1.10");
    source.Controller() = QELController("QelL", "Qel-Lite Controller", ControllerCaps{}, FirmwareVersion{},
                                        OneImageTable());
    source.Synthesiser() = QELSynthesiser("Qel4", "Synth", SynthCaps{}, FirmwareVersion{}, TableWithAddOnEntry(),
                                          std::make_shared<const QELOption>("FX2"));

    QELSystem constructed(source);
    QELSystem assigned;
    assigned = source;

    for (QELSystem* copy : {&constructed, &assigned}) {
        EXPECT_EQ(copy->Conn(), &manager);
        EXPECT_EQ(copy->PortName(), "1234:192.168.1.10");
        EXPECT_EQ(copy->Controller().Model(), "QelL");
        EXPECT_EQ(copy->Controller().FileSystem().size(), 1u);
        EXPECT_EQ(copy->Synthesiser().EEPROMTable(), TableWithAddOnEntry());
        ASSERT_NE(copy->Synthesiser().AddOn(), nullptr);

        copy->Controller() = QELController();
        copy->Synthesiser() = QELSynthesiser();
        copy->PortName() = "changed";
    }

    EXPECT_TRUE(source.Controller().IsValid());
    EXPECT_EQ(source.Controller().Model(), "QelL");
    EXPECT_EQ(source.Controller().FileSystem().size(), 1u);
    EXPECT_TRUE(source.Synthesiser().IsValid());
    EXPECT_EQ(source.Synthesiser().AddOn()->Name(), "FX2");
    EXPECT_EQ(source.PortName(), "1234:192.168.1.10");
    EXPECT_EQ(source.Conn(), &manager);
}

TEST(SystemRecords, ConnectHandsThePortNameToTheManager) {
    MockConnectionManager manager;
    QELSystem system(&manager, "QEL00042");
    EXPECT_CALL(manager, Connect(std::string("QEL00042"))).Times(1);
    system.Connect();

    QELSystem copy = system;
    copy.PortName() = "QEL00043";
    EXPECT_CALL(manager, Connect(std::string("QEL00043"))).Times(1);
    copy.Connect();

    QELSystem without_manager;
    without_manager.Connect();  // nothing to reach; must not crash
}

}  // namespace
