// The engine against a scripted upgrade device: exact message sequences,
// block pacing, event order, refusals and the bound on a silent device.
#include "upgrade/FirmwareUpgrade.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "LoopbackTransport.h"
#include "McsImage.h"
#include "UpgradeTestSupport.h"

namespace {

using namespace UpgradeTest;
using Qel::FirmwareUpgrade;
using Qel::FirmwareUpgradeErrors;
using Qel::FirmwareUpgradeEvent;
using Qel::FirmwareUpgradeStatus;
using Status = std::array<std::uint8_t, 4>;  // done, error, status bits, error bits

constexpr Status kEraseOk = {0, 0, 0x1F, 0};
constexpr Status kFinished = {1, 0, 0xFF, 0};

// The device side of the upgrade channel, answering from functions of what it
// has seen. Every report is answered (writes with an empty acknowledge), as
// the real controller does, unless the device has gone silent.
class FakeUpgradeDevice : public QelTest::IPeer {
public:
    // (status poll index from 0, data bytes received so far) -> status report.
    std::function<Status(int, std::size_t)> status = [](int, std::size_t) { return kFinished; };
    // (free-space read index from 0) -> free space.
    std::function<std::uint16_t(int)> free_space = [](int) { return std::uint16_t{4096}; };
    std::optional<std::uint32_t> image_size = 0x1000;  // empty: the read is refused
    std::atomic<int> silent_from_poll{-1};              // from this status poll on, answer nothing

    std::vector<QelTest::PeerReply> OnHostBytes(const std::vector<std::uint8_t>& bytes) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const UpgradeFrame frame = Classify(bytes);
        const std::uint16_t addr = static_cast<std::uint16_t>(bytes[5] | (bytes[6] << 8));
        if (frame.kind == UpgradeFrame::Kind::StatusRead && silent_from_poll >= 0 && polls_ >= silent_from_poll) {
            silent_ = true;
        }
        if (silent_) return {};
        std::vector<std::uint8_t> payload;
        std::uint8_t hdr = 0x40;
        switch (frame.kind) {
            case UpgradeFrame::Kind::StatusRead: {
                const Status s = status(polls_++, received_.size());
                payload.assign(s.begin(), s.end());
                break;
            }
            case UpgradeFrame::Kind::FreeSpaceRead: {
                const std::uint16_t free = free_space(free_reads_++);
                payload = {static_cast<std::uint8_t>(free & 0xFF), static_cast<std::uint8_t>(free >> 8)};
                break;
            }
            case UpgradeFrame::Kind::ImageSizeRead:
                if (image_size) {
                    const std::uint32_t v = *image_size;
                    payload = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
                } else {
                    hdr = 0x20;  // refused
                }
                break;
            case UpgradeFrame::Kind::Block:
                received_.insert(received_.end(), frame.data.begin(), frame.data.end());
                break;
            default:
                break;
        }
        return {QelTest::PeerReply{QelTest::DeviceFrame(0x05, hdr, addr, payload), std::chrono::milliseconds{0}}};
    }

    std::vector<std::uint8_t> Received() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_;
    }
    int Polls() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return polls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> received_;
    int polls_ = 0;
    int free_reads_ = 0;
    bool silent_ = false;
};

struct Bench {
    explicit Bench(std::int64_t response_timeout_ms = 2000)
        : device(std::make_shared<FakeUpgradeDevice>()),
          transport(device, QelTest::LoopbackTimes{500, response_timeout_ms, 30000}),
          system(MakeSystem(&transport)) {
        transport.Connect("fake");
    }
    std::shared_ptr<FakeUpgradeDevice> device;
    QelTest::LoopbackTransport transport;
    Qel::QELSystem system;
};

void SubscribeAll(FirmwareUpgrade& engine, EventRecorder& recorder) {
    recorder.ExpectSender(&engine);
    for (int id = 0; id < FirmwareUpgradeEvent::Count; ++id) ASSERT_TRUE(engine.Subscribe(id, &recorder));
}

std::string Image16(const std::vector<std::uint8_t>& image) { return QelTest::WriteMcs(image); }

// The run's last message, the closing Clear, has been written.
bool EndsWithClear(const QelTest::LoopbackTransport& transport) {
    const auto frames = transport.HostFrames();
    if (frames.empty()) return false;
    const UpgradeFrame last = Classify(frames.back());
    return last.kind == UpgradeFrame::Kind::Command && last.command == 3;
}

// Free space 10 gives no block (m = 0); free space 40 gives a 32-byte block
// of exactly two records, after which free space (8) is read again; the data
// arrives in file order with each word reversed.
TEST(FirmwareUpgradeEngine, FeedsBlocksAsTheFreeSpaceAllows) {
    Bench bench;
    const auto image = QelTest::RandomImage(64, 1);
    bench.device->status = [](int poll, std::size_t received) {
        if (poll == 0) return kEraseOk;
        return received < 64 ? kEraseOk : Status{1, 0, 0xFF, 0};
    };
    bench.device->free_space = [](int read) { return std::uint16_t(read == 0 ? 10 : 40); };
    std::istringstream mcs(Image16(image));
    FirmwareUpgrade engine(bench.system, mcs);
    EventRecorder recorder;
    SubscribeAll(engine, recorder);

    ASSERT_TRUE(engine.StartUpgrade());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_FALSE(engine.HasError());
    ASSERT_TRUE(bench.transport.WaitForHostFrames(15, std::chrono::seconds(10)));

    EXPECT_EQ(Trace(bench.transport.HostFrames()), "I C3 C0 S S F S F B32 S F B32 S F C3 ");
    EXPECT_EQ(bench.device->Received(), QelTest::FlashOrder(image));
    EXPECT_EQ(engine.BytesTransferred(), 64u);
    EXPECT_EQ(engine.TotalBytes(), 0x1000u);
    EXPECT_EQ(recorder.Events(), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 0}));
    EXPECT_TRUE(recorder.SendersOk());
}

// After the image the host keeps sending zero blocks until the controller
// reports ProgramOk, and never sends data outside the programming phase.
TEST(FirmwareUpgradeEngine, SendsZeroBlocksAfterTheImageUntilProgramOk) {
    Bench bench;
    const auto image = QelTest::RandomImage(40, 2);  // ends part-way through a block
    bench.device->status = [](int poll, std::size_t received) {
        if (poll == 0) return kEraseOk;
        return received < 256 ? kEraseOk : kFinished;
    };
    bench.device->free_space = [](int) { return std::uint16_t{128}; };
    std::istringstream mcs(Image16(image));
    FirmwareUpgrade engine(bench.system, mcs);
    ASSERT_TRUE(engine.StartUpgrade());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    ASSERT_TRUE(WaitFor([&] { return EndsWithClear(bench.transport); }));

    auto expected = QelTest::FlashOrder(image);
    expected.resize(256, 0);
    EXPECT_EQ(bench.device->Received(), expected);
    EXPECT_EQ(engine.BytesTransferred(), 256u);
}

TEST(FirmwareUpgradeEngine, EventsFollowEveryBitChangeThenErrorThenDone) {
    Bench bench;
    const Status script[] = {{0, 0, 0x01, 0}, {0, 0, 0x00, 0}, {0, 0, 0x01, 0}, {1, 1, 0x03, 0x08}};
    bench.device->status = [&](int poll, std::size_t) { return script[std::min(poll, 3)]; };
    std::istringstream mcs(Image16(QelTest::RandomImage(16, 3)));
    FirmwareUpgrade engine(bench.system, mcs);
    EventRecorder recorder;
    SubscribeAll(engine, recorder);
    // Inside the Done event the error is already visible, done not yet.
    std::atomic<bool> error_seen_at_done{false}, done_seen_at_done{true};
    recorder.SetCallback([&](int event) {
        if (event == FirmwareUpgradeEvent::Done) {
            error_seen_at_done = engine.HasError();
            done_seen_at_done = engine.IsDone();
        }
    });

    ASSERT_TRUE(engine.StartVerify());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_TRUE(engine.HasError());
    EXPECT_EQ(engine.GetErrors().value, FirmwareUpgradeErrors::FlashIdError);
    EXPECT_EQ(engine.GetStatus().value, 0x03);
    EXPECT_EQ(recorder.Events(), (std::vector<int>{2, 2, 2, 3, 1, 0}));
    EXPECT_TRUE(error_seen_at_done);
    EXPECT_FALSE(done_seen_at_done);
}

// A device that reports an error bit without its error byte has still failed.
TEST(FirmwareUpgradeEngine, ErrorBitsWithoutTheErrorByteAreAFailure) {
    Bench bench;
    bench.device->status = [](int, std::size_t) { return Status{1, 0, 0xFF, FirmwareUpgradeErrors::CrcError}; };
    std::istringstream mcs;
    FirmwareUpgrade engine(bench.system, mcs);
    EventRecorder recorder;
    SubscribeAll(engine, recorder);
    ASSERT_TRUE(engine.StartVerify());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_TRUE(engine.HasError());
    EXPECT_EQ(engine.GetErrors().value, FirmwareUpgradeErrors::CrcError);
    const auto events = recorder.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], FirmwareUpgradeEvent::Error);
    EXPECT_EQ(events.back(), FirmwareUpgradeEvent::Done);
}

struct SilenceCase {
    const char* name;
    int silent_from_poll;
    bool programming;  // the device is in its programming phase when it goes silent
};

// A device that stops answering ends the run with TimedOut after the
// injectable number of unanswered reads; the closing Clear still goes out and
// the destructor returns.
TEST(FirmwareUpgradeEngine, SilentDeviceEndsTheRunWithTimedOut) {
    const SilenceCase cases[] = {
        {"before programming", 2, false},
        {"while programming", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(100);
        const bool programming = c.programming;
        bench.device->status = [programming](int poll, std::size_t) {
            return programming && poll > 0 ? kEraseOk : Status{0, 0, 0x01, 0};
        };
        bench.device->free_space = [](int) { return std::uint16_t{64}; };
        bench.device->silent_from_poll = c.silent_from_poll;
        std::istringstream mcs(Image16(QelTest::RandomImage(1 << 16, 4)));
        {
            FirmwareUpgrade engine(bench.system, mcs, 3);
            ASSERT_TRUE(engine.StartUpgrade());
            ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }, std::chrono::seconds(30)));
            EXPECT_TRUE(engine.HasError());
            EXPECT_TRUE(engine.GetErrors().Has(FirmwareUpgradeErrors::TimedOut));
            EXPECT_EQ(engine.GetStatus().InProgrammingPhase(), c.programming);
        }  // the destructor returns
        EXPECT_TRUE(WaitFor([&] { return EndsWithClear(bench.transport); }, std::chrono::seconds(10)));
    }
}

struct RefusalCase {
    const char* name;
    bool remote_upgrade;
    bool controller_valid;
    bool synthesiser_valid;
    bool open;
};

// Refused starts send nothing and change nothing.
TEST(FirmwareUpgradeEngine, RefusesStartsItCannotRun) {
    const RefusalCase cases[] = {
        {"synthesiser without remote upgrade", false, true, true, true},
        {"unidentified controller", true, false, true, true},
        {"unidentified synthesiser", true, true, false, true},
        {"connection not open", true, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = std::make_shared<FakeUpgradeDevice>();
        QelTest::LoopbackTransport transport(device);
        if (c.open) transport.Connect("fake");
        const Qel::QELSystem system = MakeSystem(&transport, c.remote_upgrade, c.controller_valid, c.synthesiser_valid);
        std::istringstream mcs;
        {
            FirmwareUpgrade engine(system, mcs);
            EXPECT_FALSE(engine.StartUpgrade());
            EXPECT_FALSE(engine.StartVerify());
            EXPECT_FALSE(engine.IsDone());
            EXPECT_FALSE(engine.HasError());
            EXPECT_EQ(engine.TotalBytes(), FirmwareUpgrade::DefaultTotalBytes);
        }
        EXPECT_EQ(transport.HostFrameCount(), 0u);
    }
}

TEST(FirmwareUpgradeEngine, RefusesASecondStartWhileRunningAndAcceptsOneAfter) {
    Bench bench;
    std::atomic<bool> finish{false};
    bench.device->status = [&](int, std::size_t) { return finish ? kFinished : Status{0, 0, 0x01, 0}; };
    std::istringstream mcs;
    FirmwareUpgrade engine(bench.system, mcs);
    ASSERT_TRUE(engine.StartVerify());
    EXPECT_FALSE(engine.StartVerify());
    EXPECT_FALSE(engine.StartUpgrade());
    ASSERT_TRUE(WaitFor([&] { return bench.device->Polls() >= 2; }));
    EXPECT_FALSE(engine.StartVerify());
    finish = true;
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_FALSE(engine.HasError());

    // The next run starts with cleared flags.
    finish = false;
    ASSERT_TRUE(engine.StartVerify());
    EXPECT_FALSE(engine.IsDone());
    EXPECT_EQ(engine.GetStatus().value, 0);
    finish = true;
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
}

TEST(FirmwareUpgradeEngine, DestroyingAnIdleEngineSendsNothing) {
    Bench bench;
    std::istringstream mcs;
    { FirmwareUpgrade engine(bench.system, mcs); }
    EXPECT_EQ(bench.transport.HostFrameCount(), 0u);
}

// Total bytes: the device's image size, or 0x220000 without one; a verify
// run leaves the counters alone.
TEST(FirmwareUpgradeEngine, TotalBytesAndTransferredAcrossRuns) {
    Bench bench;
    bench.device->image_size.reset();
    bench.device->status = [](int poll, std::size_t received) {
        if (poll == 0 || received < 64) return kEraseOk;
        return kFinished;
    };
    std::istringstream mcs(Image16(QelTest::RandomImage(64, 5)));
    FirmwareUpgrade engine(bench.system, mcs);
    EXPECT_EQ(engine.TotalBytes(), 0x220000u);
    ASSERT_TRUE(engine.StartUpgrade());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_EQ(engine.TotalBytes(), 0x220000u);
    const std::uint32_t transferred = engine.BytesTransferred();
    EXPECT_GE(transferred, 64u);

    bench.device->status = [](int, std::size_t) { return kFinished; };
    ASSERT_TRUE(engine.StartVerify());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_EQ(engine.BytesTransferred(), transferred);
    EXPECT_EQ(engine.TotalBytes(), 0x220000u);
}

// A stream failure raises no event: only the flags and StreamError show it.
TEST(FirmwareUpgradeEngine, StreamFailuresEndTheRunWithStreamErrorOnly) {
    struct StreamCase {
        const char* name;
        std::function<std::unique_ptr<std::istream>()> open;
    };
    const StreamCase cases[] = {
        {"missing file", [] { return std::make_unique<std::ifstream>("/nonexistent/qel/image.mcs"); }},
        {"malformed line", [] { return std::make_unique<std::istringstream>(":10000000000102\n"); }},
        {"data record of 3 bytes", [] { return std::make_unique<std::istringstream>(":03000000010203F7\n"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.device->status = [](int, std::size_t) { return kEraseOk; };
        bench.device->free_space = [](int) { return std::uint16_t{4096}; };
        const auto mcs = c.open();
        FirmwareUpgrade engine(bench.system, *mcs);
        EventRecorder recorder;
        SubscribeAll(engine, recorder);
        ASSERT_TRUE(engine.StartUpgrade());
        ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
        EXPECT_TRUE(engine.HasError());
        EXPECT_EQ(engine.GetErrors().value, FirmwareUpgradeErrors::StreamError);
        EXPECT_EQ(recorder.Events(), (std::vector<int>{2, 3, 4, 5, 6}));  // the stages only
        EXPECT_TRUE(bench.device->Received().empty());
        EXPECT_TRUE(WaitFor([&] { return EndsWithClear(bench.transport); }, std::chrono::seconds(10)));
    }
}

// A verify-only run never reads the image, even when the device claims to be
// in its programming phase.
TEST(FirmwareUpgradeEngine, VerifyRunNeverTouchesTheStream) {
    Bench bench;
    bench.device->status = [](int poll, std::size_t) { return poll < 3 ? kEraseOk : Status{1, 0, 0x5F, 0}; };
    std::ifstream missing("/nonexistent/qel/image.mcs");
    FirmwareUpgrade engine(bench.system, missing);
    ASSERT_TRUE(engine.StartVerify());
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }));
    EXPECT_FALSE(engine.HasError());
    EXPECT_TRUE(engine.GetStatus().Has(FirmwareUpgradeStatus::VerifyOk));
    EXPECT_EQ(engine.BytesTransferred(), 0u);
    EXPECT_EQ(Trace(bench.transport.HostFrames()).substr(0, 6), "C3 C2 ");
    EXPECT_TRUE(bench.device->Received().empty());
}

// The connection closing under a run ends it (the device can no longer answer).
TEST(FirmwareUpgradeEngine, ConnectionClosedDuringARunEndsIt) {
    Bench bench;
    bench.device->status = [](int, std::size_t) { return Status{0, 0, 0x01, 0}; };
    std::istringstream mcs;
    FirmwareUpgrade engine(bench.system, mcs);
    ASSERT_TRUE(engine.StartVerify());
    ASSERT_TRUE(WaitFor([&] { return bench.device->Polls() >= 2; }));
    bench.transport.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return engine.IsDone(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(engine.HasError());
    EXPECT_TRUE(engine.GetErrors().Has(FirmwareUpgradeErrors::TimedOut));
}

}  // namespace
