// The engine against the simulated Qel System (LoopbackTransport + SimPeer):
// whole upgrades whose flash must equal the image byte for byte, verify runs,
// device-side failures and a device that falls silent.
#include "upgrade/FirmwareUpgrade.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "LoopbackTransport.h"
#include "McsImage.h"
#include "SimPeer.h"
#include "UpgradeTestSupport.h"
#include "discovery/QELSystem.h"

namespace {

using namespace UpgradeTest;
using Qel::FirmwareUpgrade;
using Qel::FirmwareUpgradeErrors;
using Qel::FirmwareUpgradeEvent;
using Qel::FirmwareUpgradeStatus;

const std::vector<int> kUpgradeEvents = {2, 3, 4, 5, 6, 7, 8, 9, 0};

// A simulated upgradable system, connected, with records as the identity
// query makes them for it (the query itself is exercised in
// RefusedStartsSendNothing).
struct SimBench {
    explicit SimBench(QelSim::Profile profile, QelSim::Faults faults = {}, std::int64_t response_timeout_ms = 2000)
        : peer(std::make_shared<QelTest::SimPeer>(std::move(profile), std::move(faults))),
          transport(peer, QelTest::LoopbackTimes{500, response_timeout_ms, 30000}),
          system(MakeSystem(&transport)) {
        transport.Connect(system.PortName());
    }

    std::vector<std::uint8_t> Flash() {
        return peer->WithDevice([](QelSim::Device& device) { return device.Flash(); });
    }
    bool EndsWithClear() const {
        const auto frames = transport.HostFrames();
        if (frames.empty()) return false;
        const UpgradeFrame last = Classify(frames.back());
        return last.kind == UpgradeFrame::Kind::Command && last.command == 3;
    }

    std::shared_ptr<QelTest::SimPeer> peer;
    QelTest::LoopbackTransport transport;
    Qel::QELSystem system;
};

QelSim::Profile UpgradeProfile(const std::vector<std::uint8_t>& image) {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.timing.SetAllPhases(0);
    profile.expected_firmware = QelTest::FlashOrder(image);
    profile.flash_erased = true;
    return profile;
}

struct LayoutCase {
    const char* name;
    std::size_t image_size;
    QelTest::McsOptions options;
};

TEST(FirmwareUpgradeSim, UpgradeProgramsTheImageExactly) {
    QelTest::McsOptions lower_crlf;
    lower_crlf.record_sizes = {16};
    lower_crlf.lower_case = true;
    lower_crlf.crlf = true;
    QelTest::McsOptions mixed;
    mixed.record_sizes = QelTest::MixedRecordSizes();
    mixed.crlf = true;

    const LayoutCase cases[] = {
        {"2 MiB, 16-byte records", 2u << 20, {}},
        {"32-byte records", 160u << 10, {{32}, false, false, 0}},
        {"mixed record sizes, CRLF", 160u << 10, mixed},
        {"lower-case hex, CRLF", 96u << 10, lower_crlf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = QelTest::RandomImage(c.image_size, static_cast<std::uint32_t>(c.image_size));
        SimBench bench(UpgradeProfile(image));
        std::istringstream mcs(QelTest::WriteMcs(image, c.options));
        EventRecorder recorder;
        {
            FirmwareUpgrade engine(bench.system, mcs);
            recorder.ExpectSender(&engine);
            for (int id = 0; id < FirmwareUpgradeEvent::Count; ++id) engine.Subscribe(id, &recorder);
            ASSERT_TRUE(engine.StartUpgrade());
            ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }, std::chrono::minutes(3)));
            EXPECT_FALSE(engine.HasError());
            EXPECT_EQ(engine.GetErrors().value, 0);
            EXPECT_TRUE(engine.GetStatus().Has(FirmwareUpgradeStatus::VerifyOk));
            EXPECT_EQ(engine.TotalBytes(), image.size());
            EXPECT_GE(engine.BytesTransferred(), image.size());
            for (int id = 0; id < FirmwareUpgradeEvent::Count; ++id) engine.Unsubscribe(id, &recorder);
        }
        EXPECT_EQ(recorder.Events(), kUpgradeEvents);
        EXPECT_TRUE(recorder.SendersOk());
        const auto flash = bench.Flash();
        EXPECT_TRUE(flash == QelTest::FlashOrder(image)) << "flash differs from the image";
        EXPECT_TRUE(WaitFor([&] { return bench.EndsWithClear(); }, std::chrono::seconds(10)));
    }
}

// A verify-only run needs no image file; the controller judges what it holds.
TEST(FirmwareUpgradeSim, VerifyOnlyRun) {
    struct VerifyCase {
        const char* name;
        bool flash_holds_image;
        bool error;
    };
    const VerifyCase cases[] = {{"flash holds the image", true, false}, {"flash erased", false, true}};
    const auto image = QelTest::RandomImage(4096, 9);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QelSim::Profile profile = UpgradeProfile(image);
        profile.flash_erased = !c.flash_holds_image;
        SimBench bench(profile);
        std::ifstream missing("/nonexistent/qel/image.mcs");
        FirmwareUpgrade engine(bench.system, missing);
        ASSERT_TRUE(engine.StartVerify());
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
        EXPECT_EQ(engine.HasError(), c.error);
        EXPECT_EQ(engine.GetStatus().Has(FirmwareUpgradeStatus::VerifyOk), !c.error);
        EXPECT_EQ(engine.GetErrors().Has(FirmwareUpgradeErrors::CrcError), c.error);
        EXPECT_EQ(engine.BytesTransferred(), 0u);
        EXPECT_EQ(bench.peer->Counters().data_blocks, 0u);
    }
}

// Each device-side failure, raised by the simulated controller at its phase.
TEST(FirmwareUpgradeSim, DeviceReportedErrors) {
    const std::uint8_t bits[] = {FirmwareUpgradeErrors::FlashIdError, FirmwareUpgradeErrors::EraseError,
                                 FirmwareUpgradeErrors::ProgramError, FirmwareUpgradeErrors::TimedOut,
                                 FirmwareUpgradeErrors::CrcError};
    const auto image = QelTest::RandomImage(8192, 10);
    for (std::uint8_t bit : bits) {
        SCOPED_TRACE(static_cast<int>(bit));
        QelSim::Faults faults;
        faults.upgrade_error = bit;
        SimBench bench(UpgradeProfile(image), faults);
        std::istringstream mcs(QelTest::WriteMcs(image));
        EventRecorder recorder;
        FirmwareUpgrade engine(bench.system, mcs);
        for (int id = 0; id < FirmwareUpgradeEvent::Count; ++id) engine.Subscribe(id, &recorder);
        ASSERT_TRUE(engine.StartUpgrade());
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
        EXPECT_TRUE(engine.HasError());
        EXPECT_TRUE(engine.GetErrors().Has(bit));
        EXPECT_FALSE(engine.GetStatus().Has(FirmwareUpgradeStatus::VerifyOk));
        const auto events = recorder.Events();
        EXPECT_NE(std::find(events.begin(), events.end(), FirmwareUpgradeEvent::Error), events.end());
        EXPECT_TRUE(WaitFor([&] { return bench.EndsWithClear(); }, std::chrono::seconds(10)));
    }
}

// Without an image size the total reads 0x220000; the run itself succeeds.
TEST(FirmwareUpgradeSim, NoImageSize) {
    const QelSim::ImageSizeFault faults[] = {QelSim::ImageSizeFault::Rejected, QelSim::ImageSizeFault::Zero};
    const auto image = QelTest::RandomImage(8192, 11);
    for (auto fault : faults) {
        QelSim::Faults f;
        f.image_size = fault;
        SimBench bench(UpgradeProfile(image), f);
        std::istringstream mcs(QelTest::WriteMcs(image));
        FirmwareUpgrade engine(bench.system, mcs);
        ASSERT_TRUE(engine.StartUpgrade());
        EXPECT_EQ(engine.TotalBytes(), 0x220000u);
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
        EXPECT_FALSE(engine.HasError());
        EXPECT_EQ(engine.TotalBytes(), 0x220000u);
        EXPECT_EQ(bench.Flash(), QelTest::FlashOrder(image));
    }
}

// A malformed line part-way through the image stops the run before the bad
// record's block goes out; no event announces the host-side failure.
TEST(FirmwareUpgradeSim, MalformedLineIsAStreamError) {
    const auto image = QelTest::RandomImage(16384, 12);
    std::string text = QelTest::WriteMcs(image);
    const std::size_t at = text.find('\n', text.size() / 2) + 1;
    text.insert(at, ":10000000XYZ\n");
    SimBench bench(UpgradeProfile(image));
    std::istringstream mcs(text);
    EventRecorder recorder;
    FirmwareUpgrade engine(bench.system, mcs);
    for (int id = 0; id < FirmwareUpgradeEvent::Count; ++id) engine.Subscribe(id, &recorder);
    ASSERT_TRUE(engine.StartUpgrade());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_TRUE(engine.HasError());
    EXPECT_EQ(engine.GetErrors().value, FirmwareUpgradeErrors::StreamError);
    EXPECT_LT(engine.BytesTransferred(), image.size());
    EXPECT_EQ(recorder.Events(), (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_TRUE(WaitFor([&] { return bench.EndsWithClear(); }, std::chrono::seconds(10)));
}

// The controller falls silent in the middle of programming: the run ends with
// TimedOut after the injected number of unanswered reads, the closing Clear is
// still written, and the engine can be destroyed.
TEST(FirmwareUpgradeSim, DeviceStopsAnsweringMidProgramming) {
    const auto image = QelTest::RandomImage(256u << 10, 13);
    QelSim::Faults faults;
    faults.silent_from_status_poll = 20;
    QelSim::Profile profile = UpgradeProfile(image);
    SimBench bench(profile, faults, 150);
    std::istringstream mcs(QelTest::WriteMcs(image));
    {
        FirmwareUpgrade engine(bench.system, mcs, 3);
        ASSERT_TRUE(engine.StartUpgrade());
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }, std::chrono::seconds(30)));
        EXPECT_TRUE(engine.HasError());
        EXPECT_EQ(engine.GetErrors().value, FirmwareUpgradeErrors::TimedOut);
        EXPECT_TRUE(engine.GetStatus().InProgrammingPhase());
        EXPECT_GT(engine.BytesTransferred(), 0u);
        EXPECT_LT(engine.BytesTransferred(), image.size());
    }
    EXPECT_TRUE(WaitFor([&] { return bench.EndsWithClear(); }, std::chrono::seconds(10)));
}

// Records as the identity query builds them: the upgradable board is
// accepted; starts are refused, with nothing sent, for a system that cannot be
// upgraded remotely and for records that were never identified.
TEST(FirmwareUpgradeSim, StartsFollowTheIdentifiedRecords) {
    {
        auto peer = std::make_shared<QelTest::SimPeer>(UpgradeProfile(QelTest::RandomImage(64, 1)));
        QelTest::LoopbackTransport transport(peer);
        transport.Connect("SIM");
        Qel::QELSystem system(&transport, "SIM");
        system.QueryIdentity();
        std::ifstream missing("/nonexistent/qel/image.mcs");
        FirmwareUpgrade engine(system, missing);
        ASSERT_TRUE(engine.StartVerify());
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    }
    struct RefusalCase {
        const char* name;
        const char* profile;
        bool identify;
    };
    const RefusalCase cases[] = {
        {"synthesiser without remote upgrade", "qel4b-pro", true},
        {"unidentified records", "ulix3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto peer = std::make_shared<QelTest::SimPeer>(*QelSim::ProfileByName(c.profile));
        QelTest::LoopbackTransport transport(peer);
        transport.Connect("SIM");
        Qel::QELSystem system(&transport, "SIM");
        if (c.identify) {
            system.QueryIdentity();
            ASSERT_TRUE(system.Synthesiser().IsValid());
        }
        const auto before = transport.HostFrameCount();
        std::istringstream mcs(QelTest::WriteMcs(QelTest::RandomImage(64, 1)));
        {
            FirmwareUpgrade engine(system, mcs);
            EXPECT_FALSE(engine.StartUpgrade());
            EXPECT_FALSE(engine.StartVerify());
        }
        EXPECT_EQ(transport.HostFrameCount(), before);
        EXPECT_EQ(peer->Counters().by_type.count(0x20), 0u);
    }
}

}  // namespace
