// The library's reports against the simulated system through the loopback
// transport: the two independent codecs must agree on every frame.
#include <memory>

#include <gtest/gtest.h>

#include "LoopbackTransport.h"
#include "SimPeer.h"
#include "messaging/IOReport.h"

namespace {

class SimPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        peer_ = std::make_shared<QelTest::SimPeer>();
        transport_ = std::make_unique<QelTest::LoopbackTransport>(peer_, QelTest::LoopbackTimes{500, 5000, 30000});
        transport_->Connect("sim");
        ASSERT_TRUE(transport_->IsOpen());
    }
    void TearDown() override { transport_->Disconnect(); }

    Qel::DeviceReport Ask(int type, std::uint16_t address, std::optional<std::uint16_t> len = {}, std::uint8_t context = 0) {
        Qel::HostReport report(type, Qel::HostReport::Read, address);
        if (len) report.LEN = *len;
        if (context) report.CONTEXT = context;
        return transport_->SendAndWait(report);
    }

    std::shared_ptr<QelTest::SimPeer> peer_;
    std::unique_ptr<QelTest::LoopbackTransport> transport_;
};

TEST_F(SimPeerTest, ControllerMagicReadsThroughTheLibrary) {
    const Qel::DeviceReport answer = Ask(0x11, 0);
    ASSERT_TRUE(answer.IsComplete());
    EXPECT_FALSE(answer.HasCrcError());
    EXPECT_TRUE(answer.Accepted());
    EXPECT_EQ(answer.PayloadWord(), 50447);
    EXPECT_EQ(peer_->Counters().by_type.at(0x11), 1u);
}

TEST_F(SimPeerTest, LibraryDecodesEveryKindOfAnswer) {
    const auto profile = QelSim::DefaultProfile();
    const Qel::DeviceReport version = Ask(0x11, 5, 8);
    const auto words = profile.controller_version.Words();
    EXPECT_EQ(version.PayloadWords(), std::vector<std::uint16_t>(words.begin(), words.end()));
    EXPECT_EQ(Ask(0x13, 0, 16).PayloadText(), profile.serial);
    EXPECT_EQ(Ask(0x15, 0, 2, 4).PayloadWord(), profile.file_system.size());
    EXPECT_EQ(Ask(0x15, 1, 49, 2).Payload(), profile.file_system[1].Bytes());
    EXPECT_EQ(Ask(0x20, 2).PayloadDword(), profile.EffectiveImageSize());
    EXPECT_TRUE(Ask(0x0A, 0).Rejected());

    // Garbage before an answer and the interlock bit do not upset the decoding.
    QelSim::Faults faults;
    faults.garbage_before = {0x00, 0x41};
    faults.interlock = true;
    peer_->SetFaults(faults);
    const Qel::DeviceReport magic = Ask(0x07, 0);
    ASSERT_TRUE(magic.IsComplete());
    EXPECT_TRUE(magic.InterlockAlarm());
    EXPECT_EQ(magic.PayloadWord(), profile.synth_magic);
}

}  // namespace
