// The utility's dialogue end to end: scan, list, choice, identity, query and
// verify-only runs, typed through a pipe as an operator would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "McsImage.h"
#include "TestBed.h"

namespace {

using QelTest::Count;
using QelTest::FindLine;
using QelTest::Lines;
using QelTest::TestBed;

// The identity the hardware database gives the combined Ulix3 board, with
// the versions the simulated system is told to report.
const std::vector<std::string> kSynthVersion{"--synth-version", "1.4.2@2022-06-09T08:30"};
const std::string kIdentity =
    "Found Synthesiser: Ulix3 : Ulix3 Synthesiser\n"
    " FW Version: 1.4.2  Mon Jun 09 2022 08:30 UTC\n"
    " LF: 10MHz  UF: 160MHz  SC: 400MHz\n"
    "Found Controller: Ulix3 : Ulix3 Controller\n"
    " FW Version: 2.7.513  Mon Nov 30 2023 14:05 UTC\n"
    "\n";

std::vector<std::string> SimOptions(const std::string& serial, const std::string& controller_version,
                                    std::vector<std::string> more = {})
{
    std::vector<std::string> options{"--serial", serial, "--controller-version", controller_version};
    options.insert(options.end(), kSynthVersion.begin(), kSynthVersion.end());
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

TEST(E2eScan, NoSystemFoundEndsWithTheMessageAndStatus255)
{
    TestBed bed(1);  // a link on which nobody answers
    const std::string image = bed.WriteImage("fw.mcs", QelTest::RandomImage(256, 1));

    const auto result = bed.Run({image});

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 255) << result.output;
    const std::string tail = "Scanning for Qel Systems ... please wait ... \n"
                             "\n"
                             "Cannot find system to upgrade. Please check connection and try again.\n"
                             "\n"
                             "Press any key to exit ... ";
    ASSERT_GE(result.output.size(), tail.size());
    EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail) << result.output;
    EXPECT_EQ(Count(result.output, "Discovered"), 0u);
}

// -q alone and -q with -v: scan, choice, identity, prompt; no file needed and
// no engine run.
TEST(E2eQuery, PrintsTheIdentityAndEndsWithoutARun)
{
    TestBed bed(1);
    bed.StartSim(0, SimOptions("QEL-E2E-A", "2.7.513@2023-11-30T14:05"));
    const std::string port = "QEL-E2E-A:" + bed.DeviceAddress(0);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"-q"}, {"-q", "-v"}, {"--verify", "--query"}}) {
        SCOPED_TRACE(args.size() == 1 ? args[0] : args[0] + " " + args[1]);
        const auto result = bed.Run(args, "1\n");

        ASSERT_FALSE(result.timed_out) << result.output;
        EXPECT_EQ(result.exit_code, 0) << result.output;
        const std::string expected = "Scanning for Qel Systems ... please wait ... \n"
                                     "Discovered 1 Qel Systems: \n"
                                     "  1) " + port + "\n"
                                     "Select a system to continue ... \n"
                                     "Connecting to QEL System on port: " + port + "\n" + kIdentity +
                                     "\n"
                                     "Press any key to exit ... ";
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
        EXPECT_TRUE(result.output.ends_with(expected)) << result.output;
        EXPECT_EQ(Count(result.output, "F/W Upgrade"), 0u) << result.output;
        EXPECT_EQ(Count(result.output, "Unable to open"), 0u) << result.output;
    }
}

// Two systems on two links; the choice ignores what is not 1..2 and asks
// again without a word; end of input ends the session.
TEST(E2eChoice, InvalidCharactersAreAskedAgainUntilAValidNumber)
{
    TestBed bed(2);
    bed.StartSim(0, SimOptions("QEL-E2E-A", "2.7.513@2023-11-30T14:05"));
    bed.StartSim(1, SimOptions("QEL-E2E-B", "3.1.7@2024-02-29T23:59"));
    const std::string port_a = "QEL-E2E-A:" + bed.DeviceAddress(0);
    const std::string port_b = "QEL-E2E-B:" + bed.DeviceAddress(1);

    struct Case {
        std::string input;
        std::size_t prompts;
        int chosen;  // 1-based; 0: none
    };
    for (const Case& c : {Case{"x\n0\n9\n2\n", 4, 2}, Case{" \t\n1", 1, 1}, Case{"a0\n", 3, 0}}) {
        SCOPED_TRACE("input '" + c.input + "'");
        const auto result = bed.Run({"-q"}, c.input);
        ASSERT_FALSE(result.timed_out) << result.output;
        const auto lines = Lines(result.output);

        const long heading = FindLine(lines, "Discovered 2 Qel Systems: ");
        ASSERT_GE(heading, 0) << result.output;
        ASSERT_LT(heading + 2, static_cast<long>(lines.size()));
        const std::vector<std::string> listed{lines[static_cast<std::size_t>(heading + 1)],
                                              lines[static_cast<std::size_t>(heading + 2)]};
        EXPECT_TRUE((listed == std::vector<std::string>{"  1) " + port_a, "  2) " + port_b}) ||
                    (listed == std::vector<std::string>{"  1) " + port_b, "  2) " + port_a}))
            << result.output;
        EXPECT_EQ(Count(result.output, "Select a system to continue ... "), c.prompts) << result.output;

        if (c.chosen == 0) {
            EXPECT_EQ(result.exit_code, 255) << result.output;
            EXPECT_EQ(Count(result.output, "Connecting to"), 0u) << result.output;
            continue;
        }
        EXPECT_EQ(result.exit_code, 0) << result.output;
        const std::string chosen = listed[static_cast<std::size_t>(c.chosen - 1)].substr(5);
        EXPECT_EQ(Count(result.output, "Connecting to QEL System on port: " + chosen + "\n"), 1u) << result.output;
        const std::string version = chosen == port_a ? " FW Version: 2.7.513  Mon Nov 30 2023 14:05 UTC"
                                                     : " FW Version: 3.1.7  Mon Feb 29 2024 23:59 UTC";
        const long controller = FindLine(lines, "Found Controller: Ulix3 : Ulix3 Controller");
        ASSERT_GE(controller, 0) << result.output;
        EXPECT_EQ(lines.at(static_cast<std::size_t>(controller + 1)), version) << result.output;
    }
}

// -v without a file: no file check, the controller verifies what it holds.
TEST(E2eVerify, VerifyOnlyRunWithoutAFileEndsDone)
{
    TestBed bed(1);
    const std::string firmware = bed.WriteImage("held.mcs", QelTest::RandomImage(8192, 7));
    bed.StartSim(0, SimOptions("QEL-E2E-A", "2.7.513@2023-11-30T14:05", {"--firmware", firmware}));

    const auto result = bed.Run({"-v"}, "1\n");

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto lines = Lines(result.output);
    EXPECT_EQ(Count(result.output, "Unable to open"), 0u);
    EXPECT_EQ(Count(result.output, "Upgrading from"), 0u);
    const long identity = FindLine(lines, "Found Controller: Ulix3 : Ulix3 Controller");
    const long started = FindLine(lines, "F/W Upgrade: Started", identity);
    const long verified = FindLine(lines, "F/W Upgrade: Verify OK", started);
    const long done = FindLine(lines, "F/W Upgrade: DONE!", verified);
    EXPECT_GE(identity, 0) << result.output;
    EXPECT_GT(started, identity) << result.output;
    EXPECT_GT(verified, started) << result.output;
    EXPECT_GT(done, verified) << result.output;
    // Nothing is erased or programmed in a verify-only run.
    EXPECT_EQ(Count(result.output, "Erase OK"), 0u) << result.output;
    EXPECT_EQ(Count(result.output, "Program OK"), 0u) << result.output;
    EXPECT_EQ(Count(result.output, "Transferred"), 0u) << result.output;
    EXPECT_TRUE(result.output.ends_with("F/W Upgrade: DONE!\n\nPress any key to exit ... ")) << result.output;
}

}  // namespace
