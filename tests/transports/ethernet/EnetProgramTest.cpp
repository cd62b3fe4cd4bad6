// The qel_sim program's network front end (qel_sim --net) as a separate
// process in a device namespace: discovered, connected, interrupted and
// transferred to and from by CM_ENET.
#include <chrono>

#include "EnetFixture.h"
#include "discovery/NamedList.h"
#include "discovery/QELSystem.h"
#include "transports/ethernet/TftpClient.h"

using namespace std::chrono_literals;
using Qel::MessageEvent;

namespace {

class EnetProgram : public QelTest::EnetFixture {};

TEST_F(EnetProgram, QelSimServesDiscoveryReportsInterruptsAndTftp)
{
    network_ = std::make_unique<QelTest::Network>(1);
    QelTest::TempDir dir;
    const std::string area = "0123456789abcdef0123456789abcdef";
    std::vector<std::uint8_t> content(1124);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 253);
    QelTest::WriteFileBytes(dir.Path() + "/area.bin", content);

    QelTest::BackgroundProcess sim(*network_->Device().ns,
                                   {QEL_SIM_PATH, "--net", network_->Device().device_address, "--serial", "SIMPROG",
                                    "--interrupt-after-connect", "--tftp-load", area + "=" + dir.Path() + "/area.bin",
                                    "--tftp-dump", dir.Path()});
    ASSERT_TRUE(sim.WaitForPort("tcp", 28244)) << sim.Output();
    ASSERT_TRUE(sim.WaitForPort("udp", 28242)) << sim.Output();
    ASSERT_TRUE(sim.WaitForPort("udp", 69)) << sim.Output();
    inside_ = std::make_unique<QelTest::ScopedNetNs>(network_->Host());

    auto& manager = Manager();
    const auto systems = manager.Discover(Qel::NamedList<std::string>());
    ASSERT_EQ(systems.size(), 1u) << sim.Output();
    EXPECT_EQ(systems[0].PortName(), "SIMPROG:198.51.100.2");
    EXPECT_TRUE(systems[0].Controller().IsValid());

    manager.Connect(systems[0].PortName());
    ASSERT_TRUE(manager.IsOpen());
    QelTest::RecordedEvent event;
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::InterruptReceived, event));
    EXPECT_EQ(event.param1, 3 * 65536 + 1);

    std::uint8_t id[16];
    for (int i = 0; i < 16; ++i) id[i] = static_cast<std::uint8_t>(i * 0x11);
    const std::uint8_t read_id[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                      0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    Qel::TransferData received;
    ASSERT_TRUE(manager.TransferFromDevice(received, 0, 0, 0, read_id));
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::TransferDone, event, 20s));
    EXPECT_EQ(event.param1, 1124);
    EXPECT_EQ(std::vector<std::uint8_t>(received.begin(), received.end()), content);

    recorder_.Clear();
    Qel::TransferData sent(content.begin(), content.end());
    ASSERT_TRUE(manager.TransferToDevice(sent, 0, 0, id));
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::TransferDone, event, 20s));
    EXPECT_EQ(event.param1, 1536);
    EXPECT_EQ(recorder_.Count(MessageEvent::TransferFailed), 0u);
    auto padded = content;
    padded.resize(1536, 0);
    EXPECT_EQ(QelTest::ReadFileBytes(dir.Path() + "/" + Qel::TftpClient::FileName(id)), padded);
}

} // namespace
