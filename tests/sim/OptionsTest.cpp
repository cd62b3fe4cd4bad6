// qel_sim's command line, and the program itself serving reports over stdio.
#include <gtest/gtest.h>

#include "sim/Options.h"
#include "tests/sim/SimHost.h"
#include "tests/support/Process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

QelSim::CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "qel_sim");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return QelSim::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(SimOptions, BuildsTheProfileAndFaultsAsked) {
    const auto parsed = Parse({"--profile", "qel4-lite", "--serial", "QelL7", "--controller-version", "3.1.9@2022-05-06T07:08",
                               "--eeprom", "15:FX2,3:stoplsm:1:2:1", "--eeprom-magic", "0x1234", "--phase-ms", "0",
                               "--drop-every", "3", "--garbage", "0041", "--upgrade-error", "erase",
                               "--image-size-fault", "zero", "--stdio"});
    ASSERT_TRUE(parsed.ok) << parsed.text;
    const QelSim::Profile& profile = parsed.config.profile;
    EXPECT_TRUE(parsed.config.stdio);
    EXPECT_EQ(profile.controller_magic, 1193);
    EXPECT_EQ(profile.serial, "QelL7");
    EXPECT_EQ(profile.controller_version.Words(), (std::array<std::uint16_t, 4>{0x0301, 9, 22 << 9 | 5 << 5 | 6, 0x0708}));
    ASSERT_EQ(profile.eeprom.entries.size(), 2u);
    EXPECT_EQ(profile.eeprom.entries[1], (QelSim::EepromEntry{3, true, 1, 2, "stoplsm"}));
    EXPECT_EQ(profile.eeprom.magic, 0x1234);
    EXPECT_EQ(profile.timing.erase_ms, 0u);
    EXPECT_EQ(parsed.config.faults.drop_every, 3u);
    EXPECT_EQ(parsed.config.faults.garbage_before, (Bytes{0x00, 0x41}));
    EXPECT_EQ(parsed.config.faults.upgrade_error, QelSim::UpgradeError::EraseError);
    EXPECT_EQ(parsed.config.faults.image_size, QelSim::ImageSizeFault::Zero);
}

TEST(SimOptions, BadValuesAreRefusedWithTheOptionNamed) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--profile", "nonesuch"}, "--profile"},
        {{"--controller-magic", "70000"}, "--controller-magic"},
        {{"--synth-version", "1.2"}, "--synth-version"},
        {{"--eeprom", "3"}, "--eeprom"},
        {{"--eeprom", "3:toolongname"}, "--eeprom"},
        {{"--garbage", "0G"}, "--garbage"},
        {{"--upgrade-error", "melted"}, "--upgrade-error"},
        {{"--firmware", "/nonexistent/fw.mcs"}, "--firmware"},
        {{"--delay-ms", "-5"}, "--delay-ms"},
    };
    for (const auto& [args, option] : cases) {
        SCOPED_TRACE(option);
        const auto parsed = Parse(args);
        EXPECT_FALSE(parsed.ok);
        EXPECT_NE(parsed.text.find(option), std::string::npos) << parsed.text;
    }
    EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(SimProgram, AnswersOverStdio) {
    Bytes input = QelSimTest::Read(0x11, 0, 2);
    const Bytes second = QelSimTest::Read(0x13, 0, 16);
    input.insert(input.end(), second.begin(), second.end());
    QelTest::ProcessOptions options;
    options.input.assign(input.begin(), input.end());
    options.timeout = std::chrono::milliseconds{30000};
    const auto result = QelTest::RunProcess({QEL_SIM_PATH, "--stdio", "--serial", "Ulix3XY"}, options);
    ASSERT_EQ(result.exit_code, 0);
    const Bytes output(result.output.begin(), result.output.end());
    std::size_t used = 0;
    const auto magic = QelSim::DecodeDeviceFrame(output, &used);
    ASSERT_TRUE(magic);
    EXPECT_EQ(magic->payload, (Bytes{0x0F, 0xC5}));
    const auto serial = QelSim::DecodeDeviceFrame(std::span(output).subspan(used));
    ASSERT_TRUE(serial);
    EXPECT_EQ(std::string(serial->payload.begin(), serial->payload.begin() + 7), "Ulix3XY");

    EXPECT_EQ(QelTest::RunProcess({QEL_SIM_PATH, "--profile", "nonesuch", "--stdio"}).exit_code, 2);
}

}  // namespace
