// The per-user settings file as the utility meets it: written on first run,
// read on later runs, and a broken one costs the log but not the upgrade.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "McsImage.h"
#include "TestBed.h"

namespace {

using QelTest::Count;
using QelTest::TestBed;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(E2eSettings, FirstRunWritesTheDefaultSettingsByteForByte)
{
    TestBed bed(1);
    bed.StartSim(0, {});
    ASSERT_FALSE(std::filesystem::exists(bed.DataHome() + "/Corvane"));

    const auto result = bed.Run({"-q"}, "1\n");

    ASSERT_FALSE(result.timed_out) << result.output;
    EXPECT_EQ(result.exit_code, 0) << result.output;
    ASSERT_TRUE(std::filesystem::is_regular_file(bed.SettingsFile())) << result.output;
    EXPECT_TRUE(QelTest::ReadFileBytes(bed.SettingsFile()) == QelTest::ReadFileBytes(QEL_DEFAULT_SETTINGS_PATH))
        << "the settings file differs from data/settings.ini";
    // With the defaults only errors are logged, and a clean query has none.
    EXPECT_TRUE(bed.LogFiles().empty());
}

// A settings file that logs everything leaves a log in the temporary folder;
// the same file with one syntax error switches logging off and the upgrade
// still completes. The file is never rewritten.
TEST(E2eSettings, SyntaxErrorInTheSettingsCostsTheLogButNotTheUpgrade)
{
    const std::string logs_everything = "[Core]\r\n"
                                        "DisableLogging=false\r\n"
                                        "Filter=\"%Severity% >= trace\"\r\n"
                                        "\r\n"
                                        "[Sinks.LogFile]\r\n"
                                        "Destination=TextFile\r\n"
                                        "FileName=\"qellog_%5N.log\"\r\n"
                                        "Format=\"[%TimeStamp%]: (%Severity%) %Message%\"\r\n"
                                        "AutoFlush=true\r\n";
    std::string broken = logs_everything;
    broken.replace(broken.find("[Sinks.LogFile]"), 15, "[Sinks.LogFile");

    for (const auto& [settings, logs] : {std::pair{logs_everything, true}, std::pair{broken, false}}) {
        SCOPED_TRACE(logs ? "valid settings" : "broken settings");
        TestBed bed(1);
        const std::vector<std::uint8_t> image = QelTest::RandomImage(8192, 51);
        const std::string file = bed.WriteImage("fw.mcs", image);
        const std::string flash = bed.Path("flash.bin");
        bed.StartSim(0, {"--firmware", file, "--flash-erased", "--flash-dump", flash});
        std::filesystem::create_directories(bed.DataHome() + "/Corvane/Qel_SDK");
        QelTest::WriteFileBytes(bed.SettingsFile(), Bytes(settings));

        const auto result = bed.Run({file}, "1\n");

        ASSERT_FALSE(result.timed_out) << result.output;
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(Count(result.output, "F/W Upgrade: DONE!"), 1u) << result.output;
        EXPECT_TRUE(QelTest::ReadFileBytes(flash) == QelTest::FlashOrder(image));
        EXPECT_TRUE(QelTest::ReadFileBytes(bed.SettingsFile()) == Bytes(settings));
        const auto log_files = bed.LogFiles();
        if (logs) {
            ASSERT_EQ(log_files.size(), 1u);
            const auto log = QelTest::ReadFileBytes(log_files.front());
            EXPECT_NE(std::string(log.begin(), log.end()).find("]: (trace) "), std::string::npos);
        } else {
            EXPECT_TRUE(log_files.empty());
        }
    }
}

}  // namespace
