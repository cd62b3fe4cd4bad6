// The connection list's scan over fake transports: order, the enabled flags
// and the filters each transport receives.
#include "discovery/ConnectionList.h"
#include "messaging/IConnectionManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Qel::NamedList;
using Qel::QELSystem;

// Records every Discover call in a shared journal and answers with systems
// named "<ident>#<k>".
class FakeTransport : public Qel::IConnectionManager {
public:
    FakeTransport(std::string ident, int found, std::vector<std::string>& journal,
                  std::vector<std::vector<std::string>>& filters)
        : ident_(std::move(ident)), found_(found), journal_(journal), filters_(filters)
    {
    }

    const std::string& Ident() const override { return ident_; }
    std::vector<QELSystem> Discover(const NamedList<std::string>& filter) override
    {
        journal_.push_back(ident_);
        filters_.emplace_back(filter.begin(), filter.end());
        std::vector<QELSystem> systems;
        for (int k = 0; k < found_; ++k) systems.emplace_back(this, ident_ + "#" + std::to_string(k));
        return systems;
    }
    void Connect(const std::string&) override {}
    void Disconnect() override {}
    int Send(const Qel::HostReport&) override { return -1; }
    Qel::DeviceReport SendAndWait(const Qel::HostReport&) override { return {}; }
    Qel::DeviceReport Response(int) override { return {}; }
    bool TransferToDevice(Qel::TransferData&, std::uint32_t, int, const std::uint8_t*) override { return false; }
    bool TransferFromDevice(Qel::TransferData&, int, int, int, const std::uint8_t*) override { return false; }
    int TransferSupport() override { return -1; }
    const std::atomic<bool>& IsOpen() const override { return open_; }
    bool Subscribe(int, Qel::IEventHandler*) override { return false; }
    void Unsubscribe(int, Qel::IEventHandler*) override {}

private:
    std::string ident_;
    int found_;
    std::vector<std::string>& journal_;
    std::vector<std::vector<std::string>>& filters_;
    std::atomic<bool> open_{false};
};

class ConnectionListTest : public ::testing::Test {
protected:
    // The four transports in scan order, finding 2, 0, 5 and 1 systems.
    std::unique_ptr<Qel::ConnectionList> MakeList()
    {
        std::vector<std::unique_ptr<Qel::IConnectionManager>> managers;
        const std::pair<const char*, int> transports[] = {
            {"CM_USBLITE", 2}, {"CM_USBSS", 0}, {"CM_SERIAL", 5}, {"CM_ETH", 1}};
        for (const auto& [ident, found] : transports)
            managers.push_back(std::make_unique<FakeTransport>(ident, found, journal, filters));
        return std::make_unique<Qel::ConnectionList>(std::move(managers));
    }

    std::vector<std::string> journal;
    std::vector<std::vector<std::string>> filters;
};

TEST_F(ConnectionListTest, NewListNamesEveryTransportInOrderAndEnablesAll)
{
    auto list = MakeList();
    const std::vector<std::string> names(list->TransportNames().begin(), list->TransportNames().end());
    EXPECT_EQ(names, (std::vector<std::string>{"CM_USBLITE", "CM_USBSS", "CM_SERIAL", "CM_ETH"}));
    for (const auto& name : names) {
        EXPECT_TRUE(list->Config(name).Enabled) << name;
        EXPECT_EQ(list->Config(name).Filter.Count(), 0u) << name;
    }
}

TEST_F(ConnectionListTest, ScanSkipsDisabledTransportsAndKeepsTransportOrder)
{
    auto list = MakeList();
    list->Config("CM_SERIAL").Enabled = false;
    const auto systems = list->Scan();

    EXPECT_EQ(journal, (std::vector<std::string>{"CM_USBLITE", "CM_USBSS", "CM_ETH"}));
    std::vector<std::string> ports;
    for (const auto& s : systems) ports.push_back(s.PortName());
    EXPECT_EQ(ports, (std::vector<std::string>{"CM_USBLITE#0", "CM_USBLITE#1", "CM_ETH#0"}));
    EXPECT_EQ(systems[2].Conn()->Ident(), "CM_ETH");
}

TEST_F(ConnectionListTest, AllDisabledScansNothing)
{
    auto list = MakeList();
    for (const auto& name : {"CM_USBLITE", "CM_USBSS", "CM_SERIAL", "CM_ETH"}) list->Config(name).Enabled = false;
    EXPECT_TRUE(list->Scan().empty());
    EXPECT_TRUE(journal.empty());
}

TEST_F(ConnectionListTest, UnknownNameGetsADefaultEntryAndDoesNotChangeTheScan)
{
    auto list = MakeList();
    Qel::ScanConfig& extra = list->Config("CM_NOWHERE");
    EXPECT_TRUE(extra.Enabled);
    extra.Enabled = false;
    EXPECT_FALSE(list->Config("CM_NOWHERE").Enabled);   // the same entry comes back
    EXPECT_EQ(list->Scan().size(), 8u);
    EXPECT_EQ(journal.size(), 4u);
}

TEST_F(ConnectionListTest, EachTransportReceivesItsOwnFilter)
{
    auto list = MakeList();
    list->Config("CM_ETH").Filter.Append("198.51.100.1");
    list->Scan();
    ASSERT_EQ(filters.size(), 4u);
    EXPECT_TRUE(filters[0].empty());
    EXPECT_EQ(filters[3], (std::vector<std::string>{"198.51.100.1"}));
}

} // namespace
