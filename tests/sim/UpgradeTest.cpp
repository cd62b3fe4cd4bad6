// The controller's side of a firmware upgrade, driven by a scripted host that
// follows the host's run: Clear, Upgrade or Verify, status polls, and in the
// programming phase free-space reads and blocks of up to 64 bytes.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "sim/Device.h"
#include "sim/Mcs.h"
#include "tests/sim/SimHost.h"

namespace {

using namespace QelSimTest;
using Bytes = std::vector<std::uint8_t>;
namespace Status = QelSim::UpgradeStatus;
namespace Error = QelSim::UpgradeError;

Bytes Image(std::size_t size, std::uint8_t seed) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return image;
}

struct RunResult {
    std::vector<std::uint8_t> statuses;  // every distinct status byte, in order
    std::array<std::uint8_t, 4> last{};  // done, error, status, errors
    std::size_t sent = 0;                // data bytes sent
};

class ScriptedHost {
public:
    ScriptedHost(QelSim::Device& device, FakeClock& clock) : device_(device), clock_(clock) {}

    std::array<std::uint8_t, 4> Poll() {
        const auto answer = Ask(device_, Read(0x20, 0, 4));
        EXPECT_TRUE(answer && answer->payload.size() == 4);
        std::array<std::uint8_t, 4> status{};
        std::copy_n(answer->payload.begin(), 4, status.begin());
        return status;
    }
    std::uint16_t FreeSpace() { return static_cast<std::uint16_t>(Le(Ask(device_, Read(0x20, 1, 2))->payload)); }
    bool Command(std::uint8_t code) { return IsAcknowledged(*Ask(device_, Write(0x20, 0, {code}))); }
    bool Block(const Bytes& block) { return IsAcknowledged(*Ask(device_, Write(0x20, 1, block))); }

    // Runs until done or error, `step` of fake time between polls.
    RunResult Run(std::uint8_t command, const Bytes& image, std::chrono::milliseconds step = std::chrono::milliseconds{0}) {
        RunResult result;
        EXPECT_TRUE(Command(QelSim::UpgradeCommand::Clear));
        EXPECT_TRUE(Command(command));
        std::size_t position = 0;
        for (int pass = 0; pass < 100000; ++pass) {
            result.last = Poll();
            if (result.statuses.empty() || result.statuses.back() != result.last[2]) result.statuses.push_back(result.last[2]);
            if (result.last[0] || result.last[1]) break;
            const bool programming = (result.last[2] & Status::EraseOk) && !(result.last[2] & Status::ProgramOk);
            if (!programming) {
                clock_.Advance(step);
                continue;
            }
            // Queue blocks while the counted free space lasts, as the host does,
            // and poll again at once.
            for (std::uint16_t free = FreeSpace(); free >= 16;) {
                const std::size_t m = std::min<std::size_t>(free, 64) / 16 * 16;
                Bytes block(m, 0x00);
                for (std::size_t i = 0; i < m && position < image.size(); ++i) block[i] = image[position++];
                EXPECT_TRUE(Block(block));
                result.sent += m;
                free = static_cast<std::uint16_t>(free - m);
            }
        }
        EXPECT_TRUE(Command(QelSim::UpgradeCommand::Clear));
        return result;
    }

private:
    QelSim::Device& device_;
    FakeClock& clock_;
};

QelSim::Profile UpgradeProfile(const Bytes& expected, std::uint32_t phase_ms = 0) {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.expected_firmware = expected;
    profile.flash_erased = true;
    profile.timing.SetAllPhases(phase_ms);
    return profile;
}

TEST(SimUpgrade, StatusBitsWalkInOrderOverThePhaseTimes) {
    const Bytes image = Image(1000, 3);
    FakeClock clock;
    QelSim::Device device(UpgradeProfile(image, 1), {}, clock.Function());
    ScriptedHost host(device, clock);
    const RunResult run = host.Run(QelSim::UpgradeCommand::Upgrade, image, std::chrono::milliseconds{1});
    EXPECT_EQ(run.statuses, (Bytes{0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF}));
    EXPECT_EQ(run.last, (std::array<std::uint8_t, 4>{1, 0, 0xFF, 0}));
}

TEST(SimUpgrade, ProgramsExactlyTheImageAndDropsThePaddingBeyondIt) {
    const Bytes image = Image(1000, 9);  // not a whole number of blocks
    FakeClock clock;
    QelSim::Device device(UpgradeProfile(image), {}, clock.Function());
    EXPECT_EQ(device.Flash(), Bytes(1000, 0xFF));
    ScriptedHost host(device, clock);
    const RunResult run = host.Run(QelSim::UpgradeCommand::Upgrade, image);
    EXPECT_EQ(run.last, (std::array<std::uint8_t, 4>{1, 0, 0xFF, 0}));
    EXPECT_EQ(device.Flash(), image);
    // The host fills the whole 4096-byte buffer before it polls again; the
    // zero blocks past the image are acknowledged and dropped.
    EXPECT_EQ(run.sent, 4096u);
    EXPECT_EQ(device.Programmer().BytesBeyondImage(), 4096u - 1000u);
    EXPECT_EQ(device.Programmer().OverflowBytes(), 0u);
}

TEST(SimUpgrade, WrongImageEndsWithCrcError) {
    const Bytes expected = Image(512, 1);
    Bytes wrong = expected;
    wrong[300] ^= 0x01;
    FakeClock clock;
    QelSim::Device device(UpgradeProfile(expected), {}, clock.Function());
    ScriptedHost host(device, clock);
    const RunResult run = host.Run(QelSim::UpgradeCommand::Upgrade, wrong);
    EXPECT_EQ(run.last, (std::array<std::uint8_t, 4>{1, 1, 0xBF, Error::CrcError}));
    EXPECT_EQ(device.Flash(), wrong);  // the flash holds what was sent
}

TEST(SimUpgrade, VerifyOnlyRunChecksWhatTheFlashHolds) {
    const Bytes image = Image(256, 5);
    struct Case {
        const char* what;
        bool erased;
        std::array<std::uint8_t, 4> last;
    } cases[] = {
        {"flash holds the expected image", false, {1, 0, 0xCF, 0}},
        {"flash erased", true, {1, 1, 0x8F, Error::CrcError}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Profile profile = UpgradeProfile(image);
        profile.flash_erased = c.erased;
        FakeClock clock;
        QelSim::Device device(profile, {}, clock.Function());
        ScriptedHost host(device, clock);
        const RunResult run = host.Run(QelSim::UpgradeCommand::Verify, image);
        EXPECT_EQ(run.last, c.last);
        EXPECT_EQ(run.sent, 0u);
    }
}

TEST(SimUpgrade, VerifyAfterUpgradeSucceedsAndClearResetsTheRun) {
    const Bytes image = Image(128, 2);
    FakeClock clock;
    QelSim::Device device(UpgradeProfile(image), {}, clock.Function());
    ScriptedHost host(device, clock);
    EXPECT_EQ(host.Run(QelSim::UpgradeCommand::Upgrade, image).last[1], 0);
    EXPECT_EQ(host.Poll(), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));  // the closing Clear
    EXPECT_EQ(host.Run(QelSim::UpgradeCommand::Verify, image).last, (std::array<std::uint8_t, 4>{1, 0, 0xCF, 0}));
    EXPECT_EQ(device.Programmer().RunsCompleted(), 2);
}

TEST(SimUpgrade, DataIsAcceptedOnlyInTheProgrammingPhase) {
    const Bytes image = Image(64, 4);
    FakeClock clock;
    QelSim::Device device(UpgradeProfile(image, 10), {}, clock.Function());
    ScriptedHost host(device, clock);
    EXPECT_FALSE(host.Block(Bytes(16, 1)));  // no run
    EXPECT_EQ(host.FreeSpace(), 0);
    ASSERT_TRUE(host.Command(QelSim::UpgradeCommand::Upgrade));
    clock.Advance(std::chrono::milliseconds{40});  // up to EnteredUpgradeMode, erase still running
    EXPECT_EQ(host.Poll()[2], 0x0F);
    EXPECT_FALSE(host.Block(Bytes(16, 1)));
    clock.Advance(std::chrono::milliseconds{10});
    EXPECT_EQ(host.Poll()[2], 0x1F);
    EXPECT_EQ(host.FreeSpace(), 4096);
    EXPECT_TRUE(host.Block(image));
    EXPECT_EQ(host.Poll()[2], 0x3F);
    // A block the host queued before it saw ProgramOk is acknowledged and dropped.
    EXPECT_TRUE(host.Block(Bytes(64, 0)));
    EXPECT_EQ(device.Flash(), image);
}

TEST(SimUpgrade, FreeSpaceFollowsTheProgrammingRate) {
    QelSim::Profile profile = UpgradeProfile(Image(4096, 6));
    profile.timing.buffer_size = 256;
    profile.timing.program_rate = 1000;  // one byte per millisecond
    FakeClock clock;
    QelSim::Device device(profile, {}, clock.Function());
    ScriptedHost host(device, clock);
    ASSERT_TRUE(host.Command(QelSim::UpgradeCommand::Upgrade));
    EXPECT_EQ(host.Poll()[2], 0x1F);
    EXPECT_EQ(host.FreeSpace(), 256);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(host.Block(Bytes(64, 1)));
    EXPECT_EQ(host.FreeSpace(), 64);
    clock.Advance(std::chrono::milliseconds{100});
    EXPECT_EQ(host.FreeSpace(), 164);
    EXPECT_EQ(device.Programmer().BytesProgrammed(), 100u);
    // A host that ignores the free space loses what does not fit.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(host.Block(Bytes(64, 1)));
    EXPECT_EQ(host.FreeSpace(), 0);
    EXPECT_EQ(device.Programmer().OverflowBytes(), 192u - 164u);
    clock.Advance(std::chrono::milliseconds{1000});
    EXPECT_EQ(host.FreeSpace(), 256);
    EXPECT_EQ(device.Programmer().BytesProgrammed(), 100u + 256u);
}

TEST(SimUpgrade, FlashIsWrittenToTheDumpFileAtTheEndOfARun) {
    const Bytes image = Image(300, 8);
    const std::string path = ::testing::TempDir() + "sim_flash_dump.bin";
    std::remove(path.c_str());
    QelSim::Profile profile = UpgradeProfile(image);
    profile.flash_dump_path = path;
    FakeClock clock;
    QelSim::Device device(profile, {}, clock.Function());
    ScriptedHost host(device, clock);
    host.Run(QelSim::UpgradeCommand::Upgrade, image);
    std::ifstream in(path, std::ios::binary);
    const Bytes dumped{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(dumped, image);
    std::remove(path.c_str());
}

TEST(SimUpgrade, DeviceSideErrorsAppearAtTheirPhase) {
    const Bytes image = Image(256, 7);
    struct Case {
        const char* what;
        std::uint8_t error;
        std::uint8_t status;
        std::size_t sent;
    } cases[] = {
        {"flash ID", Error::FlashIdError, 0x03, 0},
        {"erase", Error::EraseError, 0x8F, 0},
        {"time-out waiting for data", Error::TimedOut, 0x9F, 0},
        {"program", Error::ProgramError, 0x9F, 4096},
        {"image check", Error::CrcError, 0xBF, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QelSim::Faults faults;
        faults.upgrade_error = c.error;
        FakeClock clock;
        QelSim::Device device(UpgradeProfile(image), faults, clock.Function());
        ScriptedHost host(device, clock);
        const RunResult run = host.Run(QelSim::UpgradeCommand::Upgrade, image);
        EXPECT_EQ(run.last, (std::array<std::uint8_t, 4>{1, 1, c.status, c.error}));
        EXPECT_EQ(run.sent, c.sent);
    }
}

// An Intel-HEX record with its checksum.
std::string Record(std::uint8_t type, std::uint16_t address, const Bytes& data) {
    Bytes bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    bytes.push_back(static_cast<std::uint8_t>(-sum & 0xFF));
    std::string line = ":";
    char hex[3];
    for (auto b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\r\n";
}

TEST(SimMcs, DataRecordsInFileOrderWithEachWordByteReversed) {
    const std::string text = Record(4, 0, {0x00, 0x10}) + Record(0, 0x0010, {0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4}) +
                             Record(0, 0x0000, {5, 6, 7, 8}) + Record(1, 0, {}) + Record(0, 0, {9, 9, 9, 9});
    std::istringstream in(text);
    const QelSim::McsImage image = QelSim::ReadMcs(in, "fw.mcs");
    ASSERT_TRUE(image.Ok()) << image.error;
    EXPECT_EQ(image.bytes, (Bytes{0xDD, 0xCC, 0xBB, 0xAA, 4, 3, 2, 1, 8, 7, 6, 5}));
}

TEST(SimMcs, MalformedFilesAreRefusedWithFileAndLine) {
    const std::string bad_checksum = ":0400000001020304F3\r\n";  // F2 would be right
    const std::pair<std::string, std::string> cases[] = {
        {Record(0, 0, {1, 2, 3, 4}) + bad_checksum, "fw.mcs:2: checksum"},
        {Record(0, 0, {1, 2, 3}), "fw.mcs:1: data length"},
        {"10000000\r\n", "fw.mcs:1: a record"},
        {":0400000001020Z0400\r\n", "fw.mcs:1: not a hex"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        std::istringstream in(text);
        const QelSim::McsImage image = QelSim::ReadMcs(in, "fw.mcs");
        EXPECT_EQ(image.error.rfind(error, 0), 0u) << image.error;
    }
    EXPECT_FALSE(QelSim::LoadMcs("/nonexistent/fw.mcs").Ok());
}

}  // namespace
