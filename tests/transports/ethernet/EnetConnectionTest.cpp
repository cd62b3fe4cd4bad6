// CM_ENET's report connection against simulated systems: connect by serial
// number, the back channel, answers split and joined, send timeout,
// interrupts and the disconnect drain.
#include <chrono>

#include "EnetFixture.h"
#include "sim/Frame.h"

using namespace std::chrono_literals;
using Qel::MessageEvent;
using Qel::MessageStatus;

namespace {

constexpr std::uint16_t kControllerMagic = 50447; // the default simulated board

Qel::HostReport ReadControllerMagic() { return Qel::HostReport(0x11, 0x80, 0); }

class EnetConnection : public QelTest::EnetFixture {};

TEST_F(EnetConnection, ConnectsBySerialNumberWithAndWithoutTheBackChannel)
{
    struct Case {
        const char* what;
        bool back_channel;
        std::string port;
    };
    const Case cases[] = {
        {"back channel, address part ignored", true, "SN-1:192.0.2.99"},
        {"no back channel, no colon", false, "SN-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BuildNetwork(1);
        auto options = Serial("SN-1");
        options.back_channel = c.back_channel;
        auto& sim = AddSystem(0, options);
        auto& manager = Manager();
        manager.Connect(c.port);
        ASSERT_TRUE(manager.IsOpen());
        EXPECT_EQ(manager.HasInterruptSocket(), c.back_channel);
        const auto answer = manager.SendAndWait(ReadControllerMagic());
        ASSERT_TRUE(answer.IsComplete());
        EXPECT_EQ(answer.PayloadWord(), kControllerMagic);
        // Counted only now: the simulated unit answers reports only after its
        // connect-back step, while the host may accept that connection before
        // the unit has counted it.
        EXPECT_EQ(sim.FrontEnd().Reports().BackChannels(), c.back_channel ? 1 : 0);
        manager.Connect(c.port); // open already: nothing happens
        EXPECT_EQ(sim.FrontEnd().Reports().Connections(), 1);
        TearDown();
    }
}

TEST_F(EnetConnection, AnUnknownSerialNumberLeavesTheManagerClosed)
{
    BuildNetwork(1);
    AddSystem(0, Serial("SN-1"));
    auto& manager = Manager();
    manager.Connect("NOBODY");
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_EQ(manager.DiscoveredUnits().size(), 1u) << "Connect discovers first when it knows no unit";
    EXPECT_EQ(manager.Send(ReadControllerMagic()), -1);
    EXPECT_TRUE(recorder_.Events().empty());
    manager.Disconnect(); // closed: nothing happens
}

TEST_F(EnetConnection, AnswersSplitAcrossReadsOrJoinedInOneAreMatchedInOrder)
{
    struct Case {
        const char* what;
        QelTest::AnswerShaping shaping;
    };
    QelTest::AnswerShaping split;
    split.split_chunk = 3;
    QelTest::AnswerShaping joined;
    joined.join_first_pair = true;
    const Case cases[] = {{"split into 3-byte pieces", split}, {"first two joined", joined}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BuildNetwork(1);
        AddSystem(0, Serial("SN-1"), c.shaping);
        auto& manager = Manager();
        manager.Connect("SN-1");
        ASSERT_TRUE(manager.IsOpen());
        const int first = manager.Send(ReadControllerMagic());
        const int second = manager.Send(Qel::HostReport(0x07, 0x80, 0)); // synthesiser magic
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline &&
               !(manager.Response(first).IsComplete() && manager.Response(second).IsComplete())) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(manager.StatusOf(first), MessageStatus::RX_OK);
        EXPECT_EQ(manager.StatusOf(second), MessageStatus::RX_OK);
        EXPECT_EQ(manager.Response(first).PayloadWord(), kControllerMagic);
        EXPECT_EQ(recorder_.Count(MessageEvent::ResponseOk), 2u);
        EXPECT_EQ(recorder_.Count(MessageEvent::UnexpectedChar), 0u);
        TearDown();
        recorder_.Clear();
    }
}

TEST_F(EnetConnection, ASendThatCannotCompleteTimesOutThenEndsAsSendError)
{
    network_ = std::make_unique<QelTest::Network>(1);
    // Small socket buffers, so that a device that stops reading blocks the
    // host's writes after a few kilobytes.
    network_->Host().RunChecked({"sysctl", "-q", "-w", "net.ipv4.tcp_wmem=4096 4096 4096"});
    network_->Device().ns->RunChecked({"sysctl", "-q", "-w", "net.ipv4.tcp_rmem=4096 4096 4096"});
    inside_ = std::make_unique<QelTest::ScopedNetNs>(network_->Host());
    auto& sim = AddSystem(0, Serial("SN-1"));
    auto& manager = Manager();
    manager.Connect("SN-1");
    ASSERT_TRUE(manager.IsOpen());
    sim.FrontEnd().Reports().SetReading(false);

    QelTest::RecordedEvent timed_out;
    Qel::HostReport big(0x06, 0x00, 0);
    big.SetPayload(std::vector<std::uint8_t>(64, 0x5A));
    // Far more than the buffers on both sides hold.
    for (int i = 0; i < 2000; ++i) manager.Send(big);
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::SendTimedOut, timed_out, 20s));
    sim.FrontEnd().Reports().SetReading(true);
    const int id = timed_out.param1;
    // The status settles right after the event.
    std::optional<MessageStatus> status;
    for (int i = 0; i < 1000 && status != MessageStatus::SEND_ERROR; ++i) {
        status = manager.StatusOf(id);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(status, MessageStatus::SEND_ERROR);
    EXPECT_EQ(recorder_.Count(MessageEvent::SendFailed), 0u) << "this transport shows failures in the status only";
    // What was owed still reaches the device whole: it sees no broken report.
    const auto again = manager.SendAndWait(ReadControllerMagic());
    EXPECT_TRUE(again.IsComplete());
}

TEST_F(EnetConnection, InterruptsArriveThroughTheBackChannel)
{
    BuildNetwork(1);
    auto options = Serial("SN-1");
    options.interrupt_after_connect = QelSim::SampleInterruptReport();
    auto& sim = AddSystem(0, options);
    auto& manager = Manager();
    manager.Connect("SN-1");
    ASSERT_TRUE(manager.IsOpen());
    QelTest::RecordedEvent event;
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::InterruptReceived, event));
    EXPECT_EQ(event.param1, 3 * 65536 + 1);
    EXPECT_EQ(event.param2, 2);

    recorder_.Clear();
    QelSim::DeviceFrame frame;
    frame.id = QelSim::kIdData;
    frame.addr = 3;
    frame.payload = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(sim.FrontEnd().Reports().SendInterrupt(QelSim::EncodeDeviceFrame(frame)));
    ASSERT_TRUE(recorder_.WaitFor(MessageEvent::InterruptReceived, event));
    EXPECT_EQ(event.param1, 3 * 65536);
    EXPECT_EQ(event.data, frame.payload);
}

TEST_F(EnetConnection, DisconnectWaitsForAnOutstandingAnswer)
{
    BuildNetwork(1);
    QelTest::AnswerShaping slow;
    slow.delay = 600ms;
    auto& sim = AddSystem(0, Serial("SN-1"), slow);
    auto& manager = Manager();
    manager.Connect("SN-1");
    ASSERT_TRUE(manager.IsOpen());
    const int id = manager.Send(ReadControllerMagic());
    const auto start = std::chrono::steady_clock::now();
    manager.Disconnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(manager.StatusOf(id), MessageStatus::RX_OK);
    // The closing report went out last and was answered too.
    EXPECT_EQ(recorder_.Count(MessageEvent::ResponseOk), 2u);
    EXPECT_GE(sim.FrontEnd().Reports().BytesReceived(), 2u * 9u);
}

} // namespace
