#include "CommandLine.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string kHelp =
    " - Qel Firmware Upgrade Utility\n"
    "Usage:\n"
    "  qel_fw_upgrade [OPTION...] <Filename of Firmware Upgrade .MCS>\n"
    "\n"
    "  -m, --mcs arg  MCS File to download\n"
    "  -h, --help     Print help\n"
    "  -v, --verify   Verify Integrity Only of existing Firmware in Qel\n"
    "                 non-volatile memory\n"
    "  -q, --query    Query current Qel firmware details then exit\n";

const std::string kBanner =
    "\nQel Firmware Upgrade Utility\n"
    "Upgrades and verifies the controller firmware of Qel Systems\n" +
    std::string(66, '=') + "\n";

const std::string kExitPrompt = "\nPress any key to exit ... \n";

CommandLine Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "qel_fw_upgrade");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

QelTest::ProcessResult RunUtility(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{QEL_FW_UPGRADE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    QelTest::ProcessOptions options;
    options.stdin_dev_null = true;   // must never wait for a key
    options.timeout = std::chrono::seconds(20);
    return QelTest::RunProcess(argv, options);
}

TEST(CommandLine, HelpTextIsExact)
{
    EXPECT_EQ(Parse({}).help_text, kHelp);
}

TEST(CommandLine, ParsesOptionsAndPositionalFile)
{
    struct Case {
        std::vector<const char*> args;
        std::string file;
        bool verify, query, help;
    } cases[] = {
        {{"image.mcs"}, "image.mcs", false, false, false},
        {{"-m", "a.mcs"}, "a.mcs", false, false, false},
        {{"--mcs", "b.mcs", "-v"}, "b.mcs", true, false, false},
        {{"-q", "-v"}, "", true, true, false},
        {{"--query"}, "", false, true, false},
        {{"-h"}, "", false, false, true},
        {{}, "", false, false, true},
    };
    for (const auto& c : cases) {
        const CommandLine cmd = Parse(c.args);
        EXPECT_FALSE(cmd.Rejected()) << cmd.error;
        EXPECT_EQ(cmd.image_file, c.file);
        EXPECT_EQ(cmd.verify, c.verify);
        EXPECT_EQ(cmd.query, c.query);
        EXPECT_EQ(cmd.show_help, c.help);
    }
}

TEST(CommandLine, RejectsUnknownOptionsAndMissingValues)
{
    EXPECT_TRUE(Parse({"-x"}).Rejected());
    EXPECT_TRUE(Parse({"--nonsense"}).Rejected());
    EXPECT_TRUE(Parse({"-m"}).Rejected());
}

TEST(Utility, HelpAndNoArgumentsPrintHelpAndExitZero)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, std::vector<std::string>{}}) {
        const auto r = RunUtility(args);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.output, kBanner + kHelp + "\n" + kExitPrompt);
    }
}

TEST(Utility, BadOptionPrintsParserMessageThenHelp)
{
    const auto r = RunUtility({"--bogus"});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0);
    const std::string expected_start = kBanner + "error parsing options: ";
    ASSERT_EQ(r.output.substr(0, expected_start.size()), expected_start);
    EXPECT_NE(r.output.find("bogus"), std::string::npos);
    const std::string expected_end = "\n" + kHelp + "\n" + kExitPrompt;
    ASSERT_GE(r.output.size(), expected_end.size());
    EXPECT_EQ(r.output.substr(r.output.size() - expected_end.size()), expected_end);
}

TEST(Utility, MissingImageFileExitsMinusOneBeforeAnyScan)
{
    const auto r = RunUtility({"/nonexistent/fw.mcs"});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.output, kBanner + "\nUnable to open /nonexistent/fw.mcs. Please check and try again.\n" + kExitPrompt);
    EXPECT_EQ(r.output.find("Scanning"), std::string::npos);
}

} // namespace
