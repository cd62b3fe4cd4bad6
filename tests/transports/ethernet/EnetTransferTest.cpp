// Bulk transfers: CM_ENET's TransferToDevice/TransferFromDevice through its
// TransferWorker, and the TFTP client against the simulated system's server
// with its faults switched on.
#include <chrono>
#include <numeric>

#include "EnetFixture.h"
#include "transports/ethernet/TftpClient.h"

using namespace std::chrono_literals;
using Qel::MessageEvent;

namespace {

const std::uint8_t kIdentifier[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const std::string kName = "00112233445566778899aabbccddeeff";

std::vector<std::uint8_t> Pattern(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

class EnetTransfer : public QelTest::EnetFixture {
protected:
    QelSim::TftpServer& OpenSystem(QelSim::NetworkOptions options = Serial("SN-1"))
    {
        BuildNetwork(1);
        auto& sim = AddSystem(0, options);
        Manager().Connect("SN-1");
        EXPECT_TRUE(Manager().IsOpen());
        return sim.FrontEnd().Tftp();
    }

    // TransferDone's parameter, or -1 when it did not come.
    int AwaitDone()
    {
        QelTest::RecordedEvent done;
        return recorder_.WaitFor(MessageEvent::TransferDone, done, 20s) ? done.param1 : -1;
    }

    sockaddr_in Device() { return QelTest::Network::Address(network_->Device().device_address); }
};

TEST_F(EnetTransfer, ToDevicePadsToWholeBlocksAndEndsWithAnEmptyOne)
{
    struct Case {
        std::size_t size;
        std::size_t padded;
        int blocks; // DATA packets, the closing empty one included
    };
    for (const Case c : {Case{1000, 1024, 3}, Case{0, 512, 2}, Case{512, 512, 2}, Case{513, 1024, 3}}) {
        SCOPED_TRACE(c.size);
        auto& tftp = OpenSystem();
        const auto original = Pattern(c.size);
        Qel::TransferData data(original.begin(), original.end());
        ASSERT_TRUE(Manager().TransferToDevice(data, 0, 0, kIdentifier));
        EXPECT_EQ(AwaitDone(), static_cast<int>(c.padded));
        EXPECT_EQ(recorder_.Count(MessageEvent::TransferFailed), 0u);
        auto expected = original;
        expected.resize(c.padded, 0);
        EXPECT_EQ(tftp.File(kName), expected);
        const auto blocks = tftp.DataBlocksReceived();
        EXPECT_EQ(static_cast<int>(blocks.size()), c.blocks);
        for (const auto& [block, count] : blocks) EXPECT_EQ(count, 1) << "block " << block;
        TearDown();
        recorder_.Clear();
    }
}

TEST_F(EnetTransfer, FromDeviceReadsTheWholeArea)
{
    for (const std::size_t size : {1124u, 1024u, 100u, 0u}) {
        SCOPED_TRACE(size);
        auto& tftp = OpenSystem();
        tftp.SetFile(kName, Pattern(size));
        Qel::TransferData data{9, 9, 9};
        ASSERT_TRUE(Manager().TransferFromDevice(data, 0, 0, 0, kIdentifier));
        EXPECT_EQ(AwaitDone(), static_cast<int>(size));
        EXPECT_EQ(recorder_.Count(MessageEvent::TransferFailed), 0u);
        EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), Pattern(size));
        TearDown();
        recorder_.Clear();
    }
}

TEST_F(EnetTransfer, ASecondRequestWhileOneRunsIsRefusedAsBusy)
{
    auto& tftp = OpenSystem();
    tftp.SetFile(kName, Pattern(512 * 200));
    Qel::TransferData first;
    Qel::TransferData second{1, 2, 3};
    ASSERT_TRUE(Manager().TransferFromDevice(first, 0, 0, 0, kIdentifier));
    EXPECT_FALSE(Manager().TransferToDevice(second, 0, 0, kIdentifier));
    EXPECT_EQ(second.size(), 3u) << "a refused request leaves the data alone";
    QelTest::RecordedEvent busy;
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::TransferBusy, busy, 1s));
    EXPECT_EQ(busy.param1, -1);
    EXPECT_EQ(AwaitDone(), 512 * 200);
    EXPECT_EQ(recorder_.Count(MessageEvent::TransferFailed), 0u);
}

TEST_F(EnetTransfer, AMissingAreaFailsThenIsDone)
{
    OpenSystem();
    Qel::TransferData data;
    ASSERT_TRUE(Manager().TransferFromDevice(data, 0, 0, 0, kIdentifier));
    EXPECT_EQ(AwaitDone(), 0);
    const auto events = recorder_.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].event, MessageEvent::TransferFailed);
    EXPECT_EQ(events.back().event, MessageEvent::TransferDone);
}

// The TFTP client against the simulated server's faults. Table: the fault
// switch, whether it is a read (Get) or a write (Put).
TEST_F(EnetTransfer, TheClientSurvivesServerFaults)
{
    struct Case {
        const char* what;
        unsigned QelSim::NetworkOptions::*fault;
        bool read;
    };
    const Case cases[] = {
        {"duplicate DATA block", &QelSim::NetworkOptions::tftp_duplicate_block, true},
        {"duplicate ACK", &QelSim::NetworkOptions::tftp_duplicate_block, false},
        {"lost ACK of a read", &QelSim::NetworkOptions::tftp_ignore_ack, true},
        {"stray DATA from another port", &QelSim::NetworkOptions::tftp_stray_after_block, true},
        {"stray ACK from another port", &QelSim::NetworkOptions::tftp_stray_after_block, false},
    };
    const auto content = Pattern(512 * 4 + 77);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BuildNetwork(1);
        auto options = Serial("SN-1");
        options.*c.fault = 2;
        auto& tftp = AddSystem(0, options).FrontEnd().Tftp();
        Qel::TftpClient client(Device(), 300ms);
        if (c.read) {
            tftp.SetFile(kName, content);
            std::deque<std::uint8_t> data;
            ASSERT_TRUE(client.Get(kName, data));
            EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), content);
        } else {
            auto padded = content;
            padded.resize(512 * 5, 0);
            ASSERT_TRUE(client.Put(std::deque<std::uint8_t>(padded.begin(), padded.end()), kName));
            EXPECT_EQ(tftp.File(kName), padded);
            for (const auto& [block, count] : tftp.DataBlocksReceived()) {
                EXPECT_EQ(count, 1) << "DATA " << block << " sent more than once";
            }
        }
    }
}

TEST_F(EnetTransfer, MoreThan65535BlocksWrapTheBlockNumber)
{
    BuildNetwork(1);
    auto& tftp = AddSystem(0, Serial("SN-1")).FrontEnd().Tftp();
    const auto content = Pattern(512 * 65536 + 300);
    {
        Qel::TftpClient client(Device());
        tftp.SetFile(kName, content);
        std::deque<std::uint8_t> data;
        ASSERT_TRUE(client.Get(kName, data));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), content.begin(), content.end()));
    }
    {
        Qel::TftpClient client(Device());
        auto padded = content;
        padded.resize(512 * 65537, 0);
        const std::string other = "ffeeddccbbaa99887766554433221100";
        ASSERT_TRUE(client.Put(std::deque<std::uint8_t>(padded.begin(), padded.end()), other));
        EXPECT_EQ(tftp.File(other), padded);
    }
}

} // namespace
