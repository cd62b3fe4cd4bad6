// Each fault switch does what it says, and nothing else.
#include <functional>

#include <gtest/gtest.h>

#include "sim/Device.h"
#include "tests/sim/SimHost.h"

namespace {

using namespace QelSimTest;
using Bytes = std::vector<std::uint8_t>;

const Bytes kMagicRead = Read(0x11, 0, 2);
const Bytes kStatusPoll = Read(0x20, 0, 4);

struct FaultCase {
    const char* what;
    QelSim::Faults faults;
    std::vector<Bytes> requests;
    std::function<void(const std::vector<QelSim::Output>&, const QelSim::Device&)> check;
};

QelSim::Faults With(std::function<void(QelSim::Faults&)> set) {
    QelSim::Faults faults;
    set(faults);
    return faults;
}

std::optional<QelSim::DeviceFrame> Frame(const QelSim::Output& output) { return QelSim::DecodeDeviceFrame(output.bytes); }

TEST(SimFaults, EachSwitchDoesWhatItSays) {
    const FaultCase cases[] = {
        {"silent from message 3", With([](auto& f) { f.silent_from_message = 3; }),
         {kMagicRead, kMagicRead, kMagicRead, kMagicRead},
         [](const auto& out, const auto& device) {
             EXPECT_EQ(out.size(), 2u);
             EXPECT_EQ(device.GetCounters().silenced, 2u);
         }},
        {"silent from status poll 2", With([](auto& f) { f.silent_from_status_poll = 2; }),
         {kStatusPoll, kMagicRead, kStatusPoll, kMagicRead},
         [](const auto& out, const auto&) { EXPECT_EQ(out.size(), 2u); }},
        {"answer late", With([](auto& f) { f.answer_delay = std::chrono::milliseconds{70}; }), {kMagicRead, kStatusPoll},
         [](const auto& out, const auto&) {
             ASSERT_EQ(out.size(), 2u);
             for (const auto& o : out) EXPECT_EQ(o.delay, std::chrono::milliseconds{70});
         }},
        {"drop every 2nd answer", With([](auto& f) { f.drop_every = 2; }),
         {Read(0x11, 0, 2), Read(0x07, 0, 2), Read(0x11, 5, 8), Read(0x07, 5, 8)},
         [](const auto& out, const auto& device) {
             ASSERT_EQ(out.size(), 2u);
             EXPECT_EQ(Frame(out[0])->hdr & 0x0F, 0x01);  // the controller magic
             EXPECT_EQ(Frame(out[1])->addr, 5);           // the controller version
             EXPECT_EQ(device.GetCounters().dropped, 2u);
         }},
        {"garbage before every answer", With([](auto& f) { f.garbage_before = {0x00, 0x41}; }), {kMagicRead},
         [](const auto& out, const auto&) {
             ASSERT_EQ(out.size(), 1u);
             EXPECT_EQ(Bytes(out[0].bytes.begin(), out[0].bytes.begin() + 2), (Bytes{0x00, 0x41}));
             const auto frame = QelSim::DecodeDeviceFrame(std::span(out[0].bytes).subspan(2));
             ASSERT_TRUE(frame);
             EXPECT_EQ(frame->payload, (Bytes{0x0F, 0xC5}));
         }},
        {"wrong CRC on every 2nd answer", With([](auto& f) { f.bad_crc_every = 2; }), {kMagicRead, kMagicRead, kMagicRead},
         [](const auto& out, const auto&) {
             ASSERT_EQ(out.size(), 3u);
             EXPECT_TRUE(Frame(out[0]));
             EXPECT_FALSE(Frame(out[1]));
             EXPECT_EQ(out[1].bytes.size(), out[0].bytes.size());
             EXPECT_TRUE(Frame(out[2]));
         }},
        {"interlock bit", With([](auto& f) { f.interlock = true; }), {kMagicRead},
         [](const auto& out, const auto&) {
             ASSERT_EQ(out.size(), 1u);
             EXPECT_EQ(Frame(out[0])->hdr, 0x80 | 0x40 | 0x01);
         }},
        {"fault bit", With([](auto& f) { f.fault_bit = true; }), {kMagicRead},
         [](const auto& out, const auto&) {
             ASSERT_EQ(out.size(), 1u);
             EXPECT_EQ(Frame(out[0])->hdr, 0x40 | 0x10 | 0x01);
             EXPECT_FALSE(IsAcknowledged(*Frame(out[0])));
         }},
        {"image size rejected", With([](auto& f) { f.image_size = QelSim::ImageSizeFault::Rejected; }), {Read(0x20, 2, 4)},
         [](const auto& out, const auto&) { EXPECT_TRUE(IsRejected(*Frame(out.at(0)))); }},
        {"image size zero", With([](auto& f) { f.image_size = QelSim::ImageSizeFault::Zero; }), {Read(0x20, 2, 4)},
         [](const auto& out, const auto&) { EXPECT_EQ(Frame(out.at(0))->payload, Bytes(4, 0)); }},
        {"small free-space buffer", With([](auto& f) { f.buffer_size = 48; }),
         {Write(0x20, 0, {QelSim::UpgradeCommand::Upgrade}), Read(0x20, 1, 2)},
         [](const auto& out, const auto&) { EXPECT_EQ(Frame(out.at(1))->payload, (Bytes{48, 0})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Profile profile = QelSim::DefaultProfile();
        profile.timing.SetAllPhases(0);
        QelSim::Device device(profile, c.faults);
        std::vector<QelSim::Output> outputs;
        for (const Bytes& request : c.requests)
            for (auto& output : device.Consume(request)) outputs.push_back(std::move(output));
        c.check(outputs, device);
    }
}

TEST(SimFaults, NoFaultsMeansOneCleanAnswerPerReport) {
    QelSim::Device device(QelSim::DefaultProfile());
    Bytes joined;
    for (int i = 0; i < 20; ++i) joined.insert(joined.end(), kMagicRead.begin(), kMagicRead.end());
    const auto outputs = device.Consume(joined);
    ASSERT_EQ(outputs.size(), 20u);
    for (const auto& output : outputs) {
        EXPECT_EQ(output.delay.count(), 0);
        const auto frame = Frame(output);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->hdr, 0x41);
    }
}

TEST(SimFaults, SwitchedOnMidRunTheyApplyFromThen) {
    QelSim::Device device(QelSim::DefaultProfile());
    EXPECT_TRUE(Ask(device, kMagicRead));
    QelSim::Faults faults;
    faults.silent_from_message = 3;
    device.SetFaults(faults);
    EXPECT_TRUE(Ask(device, kMagicRead));
    EXPECT_FALSE(Ask(device, kMagicRead));
}

}  // namespace
