// Upgrade runs end to end: a whole upgrade checked against the simulated
// flash byte for byte, every error the controller can report, a system that
// dies part-way, and an image refused before anything is scanned.
#include <signal.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "McsImage.h"
#include "TestBed.h"

namespace {

using QelTest::Count;
using QelTest::FindLine;
using QelTest::Lines;
using QelTest::TestBed;

// The size of a whole controller image (what the engine assumes when the
// device gives none): the one full-size case.
constexpr std::size_t kFullImage = 0x220000;

struct Progress {
    unsigned long transferred;
    unsigned long total;
    unsigned long percent;
};

std::vector<Progress> ProgressLines(const std::vector<std::string>& lines)
{
    static const std::regex pattern(R"(Transferred (\d+)/(\d+) bytes \((\d+)%\))");
    std::vector<Progress> found;
    std::smatch match;
    for (const auto& line : lines) {
        if (std::regex_match(line, match, pattern))
            found.push_back({std::stoul(match[1]), std::stoul(match[2]), std::stoul(match[3])});
    }
    return found;
}

TEST(E2eUpgrade, FullImageEndsInFlashByteForByteWithStagesAndProgressInOrder)
{
    TestBed bed(1);
    const std::vector<std::uint8_t> image = QelTest::RandomImage(kFullImage, 11);
    const std::string file = bed.WriteImage("full.mcs", image);
    const std::string flash = bed.Path("flash.bin");
    // A flash that programs 500000 bytes/s keeps the programming phase about
    // 4.5 s long however fast the host is, so progress lines (every 2 s) show.
    bed.StartSim(0, {"--firmware", file, "--flash-erased", "--flash-dump", flash, "--program-rate", "500000"});

    const auto result = bed.Run({file}, "1\n", std::chrono::minutes(4));

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 0) << result.output;
    // The host sends each 32-bit word least significant byte first.
    EXPECT_TRUE(QelTest::ReadFileBytes(flash) == QelTest::FlashOrder(image)) << "flash differs from the image";

    const auto lines = Lines(result.output);
    long at = FindLine(lines, "Upgrading from " + file);
    EXPECT_GE(at, 0) << result.output;
    for (const char* line : {"Scanning for Qel Systems ... please wait ... ", "Discovered 1 Qel Systems: ",
                             "Found Synthesiser: Ulix3 : Ulix3 Synthesiser", "Found Controller: Ulix3 : Ulix3 Controller",
                             "F/W Upgrade: Started", "F/W Upgrade: Initialize OK", "F/W Upgrade: Check ID OK",
                             "F/W Upgrade: Entered Upgrade Mode", "F/W Upgrade: Erase OK", "F/W Upgrade: Program OK",
                             "Please cycle power to enable upgrade", "F/W Upgrade: Verify OK",
                             "F/W Upgrade: Leaving Upgrade Mode", "F/W Upgrade: DONE!"}) {
        const long next = FindLine(lines, line, at + 1);
        EXPECT_GT(next, at) << "'" << line << "' missing or out of order:\n" << result.output;
        if (next > at) at = next;
    }
    EXPECT_EQ(Count(result.output, "ERROR"), 0u) << result.output;

    // Progress comes only while programming, counts up, and its percentage
    // is the truncated ratio. The count may pass the total at the very end:
    // zero blocks follow the image until the controller reports ProgramOk.
    const auto progress = ProgressLines(lines);
    ASSERT_FALSE(progress.empty()) << result.output;
    const long erased = FindLine(lines, "F/W Upgrade: Erase OK");
    const long programmed = FindLine(lines, "F/W Upgrade: Program OK");
    unsigned long previous = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("Transferred ", 0) == 0) {
            EXPECT_GT(static_cast<long>(i), erased) << lines[i];
            EXPECT_LT(static_cast<long>(i), programmed) << lines[i];
        }
    }
    for (const Progress& p : progress) {
        EXPECT_EQ(p.total, kFullImage);
        EXPECT_GE(p.transferred, previous);
        EXPECT_EQ(p.percent, p.transferred * 100 / p.total);
        previous = p.transferred;
    }
    EXPECT_TRUE(result.output.ends_with("F/W Upgrade: DONE!\n\nPress any key to exit ... ")) << result.output;
}

// Each error the controller reports: its two lines, status 255. The
// controller still ends its run (DONE is its event too), but the error wins.
TEST(E2eUpgrade, DeviceReportedErrorsArePrintedWithTheirAdvice)
{
    struct Case {
        std::vector<std::string> sim_options;  // added to the firmware options
        bool verify_only;
        std::string first;
        std::string second;
    };
    const std::vector<Case> cases{
        {{"--upgrade-error", "flash-id"}, false, "F/W Upgrade: Unrecognised Flash ID Code", "   - Please contact Corvane"},
        {{"--upgrade-error", "erase"}, false, "F/W Upgrade: Erase Error", "   - Please contact Corvane"},
        {{"--upgrade-error", "program"}, false, "F/W Upgrade: Program Error", "   - Please contact Corvane"},
        {{"--upgrade-error", "timeout"}, false, "F/W Upgrade: Timed Out", "   - Please try upgrade again"},
        {{"--upgrade-error", "crc"}, false, "F/W Upgrade: CRC Error",
         "   - Please check file contents are valid MCS format"},
        // A real mismatch: the controller expects other firmware than is sent.
        {{"--expect-other"}, false, "F/W Upgrade: CRC Error", "   - Please check file contents are valid MCS format"},
        // A verify-only run over a flash that holds nothing.
        {{"--flash-erased"}, true, "F/W Upgrade: CRC Error", "   - Please check file contents are valid MCS format"},
    };

    TestBed bed(1);
    const std::vector<std::uint8_t> image = QelTest::RandomImage(16384, 21);
    const std::string file = bed.WriteImage("fw.mcs", image);
    const std::string other = bed.WriteImage("other.mcs", QelTest::RandomImage(16384, 22));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim_options.front() + (c.verify_only ? " (verify only)" : ""));
        std::vector<std::string> options{"--firmware", c.sim_options.front() == "--expect-other" ? other : file,
                                         "--serial", "QEL-ERR"};
        if (c.sim_options.front() != "--expect-other")
            options.insert(options.end(), c.sim_options.begin(), c.sim_options.end());
        QelTest::BackgroundProcess& sim = bed.StartSim(0, options);

        const auto result = bed.Run({c.verify_only ? "-v" : file}, "1\n");
        sim.Stop();

        ASSERT_FALSE(result.timed_out) << result.output;
        EXPECT_EQ(result.exit_code, 255) << result.output;
        const auto lines = Lines(result.output);
        const long first = FindLine(lines, c.first);
        ASSERT_GE(first, 0) << result.output;
        ASSERT_LT(first + 1, static_cast<long>(lines.size())) << result.output;
        EXPECT_EQ(lines[static_cast<std::size_t>(first + 1)], c.second) << result.output;
        EXPECT_EQ(Count(result.output, c.first + "\n"), 1u) << result.output;
        const long error_event = FindLine(lines, "F/W Upgrade: >> ERROR <<");
        EXPECT_GE(error_event, 0) << result.output;
        EXPECT_GT(first, error_event) << result.output;
        EXPECT_EQ(Count(result.output, "Press any key"), 0u) << result.output;
        // The error report is the end: no exit prompt after it.
        EXPECT_TRUE(result.output.ends_with(c.second + "\n")) << result.output;
    }
}

// The system's process is killed while it is programming: the run ends with
// the timeout report instead of hanging.
TEST(E2eUpgrade, SystemThatDiesMidUpgradeEndsTimedOut)
{
    TestBed bed(1);
    const std::vector<std::uint8_t> image = QelTest::RandomImage(262144, 31);
    const std::string file = bed.WriteImage("fw.mcs", image);
    // Slow programming keeps the run in its programming phase for seconds.
    QelTest::BackgroundProcess& sim =
        bed.StartSim(0, {"--firmware", file, "--flash-erased", "--program-rate", "16384"});

    const auto utility = bed.Start({file});
    utility->Type("1\n");
    utility->CloseInput();
    ASSERT_TRUE(utility->WaitForOutput("F/W Upgrade: Erase OK\n", std::chrono::seconds(60))) << utility->Output();
    ASSERT_EQ(kill(sim.Pid(), SIGKILL), 0);

    const auto result = utility->Wait(std::chrono::seconds(60));

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 255) << result.output;
    const auto lines = Lines(result.output);
    const long timed_out = FindLine(lines, "F/W Upgrade: Timed Out");
    ASSERT_GE(timed_out, 0) << result.output;
    EXPECT_EQ(lines.at(static_cast<std::size_t>(timed_out + 1)), "   - Please try upgrade again");
    EXPECT_EQ(Count(result.output, "DONE!"), 0u) << result.output;
    EXPECT_EQ(Count(result.output, "Program OK"), 0u) << result.output;
}

// A damaged image is refused with its line before any scan.
TEST(E2eUpgrade, ImageWithABadChecksumIsRefusedBeforeTheScan)
{
    TestBed bed(1);
    bed.StartSim(0, {});
    std::string text = QelTest::WriteMcs(QelTest::RandomImage(4096, 41));
    // Line 3 (the second data record): change its last checksum digit.
    std::size_t at = 0;
    for (int line = 0; line < 3; ++line) at = text.find('\n', at) + 1;
    const std::size_t end = at - 2;
    text[end] = text[end] == '0' ? '1' : '0';
    const std::string file = bed.Path("bad.mcs");
    QelTest::WriteFileBytes(file, std::vector<std::uint8_t>(text.begin(), text.end()));

    const auto result = bed.Run({file}, "1\n");

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 255) << result.output;
    EXPECT_NE(result.output.find("Upgrading from " + file + "\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Invalid MCS file " + file + " at line 3"), std::string::npos) << result.output;
    EXPECT_EQ(Count(result.output, "Scanning"), 0u) << result.output;
    EXPECT_EQ(Count(result.output, "F/W Upgrade"), 0u) << result.output;
}

}  // namespace
