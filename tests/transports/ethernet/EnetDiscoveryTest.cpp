// Discovery: the answer parser on its own, then broadcasts across namespaces
// to simulated systems.
#include <chrono>

#include "EnetFixture.h"
#include "discovery/NamedList.h"
#include "discovery/QELSystem.h"
#include "sim/network/DiscoveryResponder.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct ParseCase {
    const char* what;
    std::string answer;
    std::string serial;
    std::array<std::uint8_t, 6> mac;
    std::string requested_ip;
};

TEST(DiscoveryAnswer, ParsesLinesByTheKeyTable)
{
    const std::array<std::uint8_t, 6> none{};
    const std::array<std::uint8_t, 6> mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    const ParseCase cases[] = {
        {"all three lines", "SNO: 1234\r\nMAC: 00:1A:2B:3C:4D:5E\r\nReqIP: 10.0.0.7\r\n", "1234", mac, "10.0.0.7"},
        {"bare line feed loses a character", "SNO: 1234\n", "123", none, ""},
        {"no MAC line gives zeros", "SNO: 77\r\nReqIP: 1.2.3.4\r\n", "77", none, "1.2.3.4"},
        {"last line without line feed is ignored", "SNO: 9\r\nReqIP: 1.2.3.4", "9", none, ""},
        {"no serial number line", "MAC: 00:1A:2B:3C:4D:5E\r\n", "", mac, ""},
        {"keys are case- and space-exact", "sno: 1\r\nSNO:2\r\nSNO: 3\r\n", "3", none, ""},
        {"empty value", "SNO: \r\n", "", none, ""},
        {"other lines are skipped", "Hello\r\nSNO: 5\r\n\r\nX: y\r\n", "5", none, ""},
        {"short MAC line", "MAC: 0A:0B\r\n", "", {0x0A, 0x0B, 0, 0, 0, 0}, ""},
        {"nothing", "", "", none, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytes = Bytes(c.answer);
        const Qel::DiscoveredUnit unit = Qel::ParseDiscoveryAnswer(bytes);
        EXPECT_EQ(unit.serial_number, c.serial);
        EXPECT_EQ(unit.mac, c.mac);
        EXPECT_EQ(unit.requested_ip, c.requested_ip);
    }
}

TEST(DiscoveryAnswer, AFullDatagramIsWalkedOnlyWithinItsBytes)
{
    // 1560 bytes with no terminating zero and an unfinished last line; the
    // vector is exactly that long, so a read past it trips the sanitizer.
    QelSim::NetworkOptions options;
    options.serial_number = "4321";
    options.malformed = QelSim::MalformedAnswer::Oversized;
    const std::string text = QelSim::DiscoveryAnswer(options);
    ASSERT_EQ(text.size(), 1560u);
    const auto bytes = Bytes(text);
    const auto unit = Qel::ParseDiscoveryAnswer(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
    EXPECT_EQ(unit.serial_number, "4321");
}

class EnetDiscovery : public QelTest::EnetFixture {};

TEST_F(EnetDiscovery, FindsTwoSystemsOnTwoInterfacesInAnswerOrder)
{
    BuildNetwork(2);
    AddSystem(0, Serial("SN-A"));
    AddSystem(1, Serial("SN-B"));
    const auto systems = Manager().Discover(Qel::NamedList<std::string>());
    ASSERT_EQ(systems.size(), 2u);
    EXPECT_EQ(systems[0].PortName(), "SN-A:198.51.100.2");
    EXPECT_EQ(systems[1].PortName(), "SN-B:198.51.100.66");
    for (const auto& system : systems) EXPECT_TRUE(system.Controller().IsValid());
    EXPECT_FALSE(Manager().IsOpen());
    const auto& units = Manager().DiscoveredUnits();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].requested_ip, "198.51.100.2");
    EXPECT_EQ(units[0].mac, (std::array<std::uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
}

TEST_F(EnetDiscovery, ASystemAnsweringTwiceGetsTheSuffixOnItsSecondRecord)
{
    BuildNetwork(1);
    auto options = Serial("TWICE");
    options.answer_count = 2;
    AddSystem(0, options);
    const auto systems = Manager().Discover(Qel::NamedList<std::string>());
    ASSERT_EQ(systems.size(), 2u);
    EXPECT_EQ(systems[0].PortName(), "TWICE:198.51.100.2");
    EXPECT_EQ(systems[1].PortName(), "TWICE:198.51.100.2-1");
}

TEST_F(EnetDiscovery, TheFilterSelectsInterfacesByAddress)
{
    BuildNetwork(2);
    AddSystem(0, Serial("SN-A"));
    AddSystem(1, Serial("SN-B"));
    const auto selected = Units({"198.51.100.65"});
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].serial_number, "SN-B");
    EXPECT_EQ(selected[0].source_address, "198.51.100.66");
    EXPECT_TRUE(Units({"192.0.2.1"}).empty());
}

TEST_F(EnetDiscovery, OnlyLoopbackMeansNoWaitAndNoResult)
{
    QelTest::NetNs lonely("lonely");
    QelTest::ScopedNetNs inside(lonely);
    Qel::CM_ENET manager(ShortTimings());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(manager.Discover(Qel::NamedList<std::string>()).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_TRUE(manager.DiscoveredUnits().empty());
}

TEST_F(EnetDiscovery, AUnitWithoutSerialNumberOrMacIsFoundByTheEmptyString)
{
    BuildNetwork(1);
    auto options = Serial("unused");
    options.malformed = QelSim::MalformedAnswer::NoSerialNumber;
    options.mac_line = false;
    AddSystem(0, options);
    auto& manager = Manager();
    const auto systems = manager.Discover(Qel::NamedList<std::string>());
    ASSERT_EQ(manager.DiscoveredUnits().size(), 1u);
    EXPECT_EQ(manager.DiscoveredUnits()[0].serial_number, "");
    EXPECT_EQ(manager.DiscoveredUnits()[0].mac, (std::array<std::uint8_t, 6>{}));
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_EQ(systems[0].PortName(), ":198.51.100.2");
    manager.Connect("");
    EXPECT_TRUE(manager.IsOpen());
}

TEST_F(EnetDiscovery, MalformedAnswersStillGiveTheirUnits)
{
    BuildNetwork(1);
    auto options = Serial("4321");
    options.malformed = QelSim::MalformedAnswer::Oversized;
    AddSystem(0, options);
    const auto units = Units();
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].serial_number, "4321");
    EXPECT_EQ(units[0].requested_ip, "198.51.100.2");
}

} // namespace
