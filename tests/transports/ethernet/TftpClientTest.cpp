// TftpClient against the Debian tftpd-hpa server, run in the foreground
// inside a device namespace; files are compared byte for byte.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <random>

#include "Network.h"
#include "PacketLoss.h"
#include "transports/ethernet/TftpClient.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(engine());
    return bytes;
}

class TftpdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QelTest::ProcessIsolated()) << QelTest::IsolationError();
        network_ = std::make_unique<QelTest::Network>(1);
        ASSERT_EQ(chmod(dir_.Path().c_str(), 0777), 0);
        const std::string device = network_->Device().device_address;
        tftpd_ = std::make_unique<QelTest::BackgroundProcess>(
            *network_->Device().ns,
            std::vector<std::string>{"/usr/sbin/in.tftpd", "-L", "-a", device + ":69", "-s", "-c", "-p",
                                     "-U", "000", "-u", "nobody", "-T", "300000", dir_.Path()});
        ASSERT_TRUE(tftpd_->WaitForPort("udp", 69)) << tftpd_->Output();
        inside_ = std::make_unique<QelTest::ScopedNetNs>(network_->Host());
        server_ = QelTest::Network::Address(device);
    }

    void TearDown() override
    {
        inside_.reset();
        tftpd_.reset();
    }

    std::string PathOf(const std::string& name) const { return dir_.Path() + "/" + name; }

    void Provide(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        QelTest::WriteFileBytes(PathOf(name), bytes);
        chmod(PathOf(name).c_str(), 0666);
    }

    std::unique_ptr<QelTest::Network> network_;
    QelTest::TempDir dir_;
    std::unique_ptr<QelTest::BackgroundProcess> tftpd_;
    std::unique_ptr<QelTest::ScopedNetNs> inside_;
    sockaddr_in server_{};
};

const char* const kName = "00112233445566778899aabbccddeeff";

TEST(TftpFileName, IsTheIdentifierInLowerCaseHex)
{
    const std::uint8_t id[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(Qel::TftpClient::FileName(id), kName);
}

TEST(TftpRequestPacket, HoldsNameAndModeAndRefusesOversizedNames)
{
    const auto rrq = Qel::TftpRequest(1, "ab");
    const std::vector<std::uint8_t> expected{0, 1, 'a', 'b', 0, 'o', 'c', 't', 'e', 't', 0};
    EXPECT_EQ(rrq, expected);
    EXPECT_TRUE(Qel::TftpRequest(2, std::string(1024, 'x')).empty());
}

TEST_F(TftpdTest, PutWritesTheFileByteForByte)
{
    for (const std::size_t size : {512u, 1024u, 512u * 130u}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size));
        Qel::TftpClient client(server_, 1000ms);
        ASSERT_TRUE(client.Put(std::deque<std::uint8_t>(bytes.begin(), bytes.end()), kName));
        EXPECT_EQ(QelTest::ReadFileBytes(PathOf(kName)), bytes);
    }
}

TEST_F(TftpdTest, GetReadsTheFileByteForByte)
{
    for (const std::size_t size : {0u, 100u, 512u, 1024u, 1124u, 512u * 130u + 7u}) {
        SCOPED_TRACE(size);
        const auto bytes = RandomBytes(size, static_cast<unsigned>(size) + 1);
        Provide(kName, bytes);
        Qel::TftpClient client(server_, 1000ms);
        std::deque<std::uint8_t> data{1, 2, 3}; // cleared by Get
        ASSERT_TRUE(client.Get(kName, data));
        EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), bytes);
    }
}

TEST_F(TftpdTest, GetOfAMissingFileFailsOnTheServersError)
{
    Qel::TftpClient client(server_, 1000ms);
    std::deque<std::uint8_t> data;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Get("ffffffffffffffffffffffffffffffff", data));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms); // the ERROR, not a timeout
    EXPECT_TRUE(data.empty());
}

TEST_F(TftpdTest, GetRepeatsALostReadRequest)
{
    const auto bytes = RandomBytes(700, 3);
    Provide(kName, bytes);
    // RRQ: 2 + 32 + 1 + 5 + 1 bytes of TFTP, 28 of headers.
    QelTest::DropFirstDatagram(*network_->Device().ns, "udp dport 69", 28 + 41);
    Qel::TftpClient client(server_, 300ms);
    std::deque<std::uint8_t> data;
    ASSERT_TRUE(client.Get(kName, data));
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), bytes);
}

TEST_F(TftpdTest, GetRecoversFromALostAck)
{
    const auto bytes = RandomBytes(512 * 3 + 10, 4);
    Provide(kName, bytes);
    QelTest::DropFirstDatagram(*network_->Device().ns, QelTest::TftpOpcodeAndBlock(4, 2), 28 + 4);
    Qel::TftpClient client(server_, 300ms);
    std::deque<std::uint8_t> data;
    ASSERT_TRUE(client.Get(kName, data));
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), bytes);
}

TEST_F(TftpdTest, PutFailsWithinItsTimeoutWhenAnAckIsLost)
{
    const auto bytes = RandomBytes(512 * 3, 5);
    // Every copy: the server repeats its ACK after its own timeout, which
    // would otherwise race with the client's.
    QelTest::DropFirstDatagram(network_->Host(), QelTest::TftpOpcodeAndBlock(4, 2), 28 + 4, true);
    Qel::TftpClient client(server_, 300ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Put(std::deque<std::uint8_t>(bytes.begin(), bytes.end()), kName));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(TftpdTest, GetGivesUpAfterTwoTimeoutsWhenNoServerAnswers)
{
    tftpd_->Stop();
    Qel::TftpClient client(server_, 200ms);
    std::deque<std::uint8_t> data;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Get(kName, data));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 5s);
}

} // namespace
