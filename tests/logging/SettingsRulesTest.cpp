// The pure rules behind the logging set-up: the compiled-in default text,
// where the settings and the log go, and which texts reach the parser.

#include "logging/DefaultSettings.h"
#include "logging/SettingsLocation.h"
#include "logging/SettingsScreen.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Qel::Logging::DefaultSettingsText;

std::vector<std::string> SplitCrlf(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        lines.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return lines;
        }
        start = end + 2;
    }
}

TEST(DefaultSettingsText, IsTheDataFileByteForByte) {
    std::ifstream in(QEL_SETTINGS_INI_PATH, std::ios::binary);
    ASSERT_TRUE(in) << QEL_SETTINGS_INI_PATH;
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(DefaultSettingsText(), file);
}

TEST(DefaultSettingsText, UsesCrlfLineEndsAndNoFinalLineEnd) {
    const std::string_view text = DefaultSettingsText();
    ASSERT_GT(text.size(), 1000u);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at byte " << i;
        }
        if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at byte " << i;
        }
    }
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(DefaultSettingsText, HoldsEveryEntryInItsSection) {
    // Section, then the exact line; "#" lines are the commented-out entries.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"[Core]", "DisableLogging=false"},
        {"[Core]", "Filter=\"%Severity% >= error\""},
        {"[Sinks.LogFile]", "Destination=TextFile"},
        {"[Sinks.LogFile]", "FileName=\"qellog_%5N.log\""},
        {"[Sinks.LogFile]", "#Filter=\"%Target% contains \\\"LogFile\\\"\""},
        {"[Sinks.LogFile]", "Format=\"[%TimeStamp%]: (%Severity%) %Message%\""},
        {"[Sinks.LogFile]", "RotationSize=1048576"},
        {"[Sinks.LogFile]", "#RotationInterval=3600"},
        {"[Sinks.LogFile]", "RotationTimePoint=\"00:00:00\""},
        {"[Sinks.LogFile]", "EnableFinalRotation=true"},
        {"[Sinks.LogFile]", "Asynchronous=false"},
        {"[Sinks.LogFile]", "AutoFlush=true"},
        {"[Sinks.LogFile]", "Append=true"},
        {"#[Sinks.Console]", "#Destination=Console"},
        {"#[Sinks.Console]", "#Filter=\"%Severity% >= warning\""},
        {"#[Sinks.Console]", "#Format=\"[%TimeStamp%]: (%Severity%) %Message%\""},
        {"#[Sinks.Console]", "#AutoFlush=true"},
    };
    // Each line's section: the last header line above it, live or commented.
    std::vector<std::pair<std::string, std::string>> found;
    std::string section;
    for (const std::string& line : SplitCrlf(DefaultSettingsText())) {
        if (line.rfind("[", 0) == 0 || line.rfind("#[", 0) == 0) {
            section = line;
        } else if (!line.empty() && line.rfind("# ", 0) != 0 && line != "#") {
            found.emplace_back(section, line);
        }
    }
    EXPECT_EQ(found, expected);
}

TEST(DefaultSettingsText, ExplainsTheKeysInComments) {
    const std::string text(DefaultSettingsText());
    for (const char* phrase : {"fatal, error, warning, info, debug, trace", "temporary folder",
                               "in bytes", "in seconds", "appends", "clears it",
                               "to the console too"}) {
        EXPECT_NE(text.find(phrase), std::string::npos) << phrase;
    }
}

TEST(SettingsLocation, DataHomeFollowsTheXdgRules) {
    struct Case {
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/x/data", "/home/u", "/x/data"},
        {nullptr, "/home/u", "/home/u/.local/share"},
        {"", "/home/u/", "/home/u/.local/share"},
        {"relative/data", "/home/u", "/home/u/.local/share"},
        {nullptr, "relative", ""},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Qel::Logging::DataHomeFrom(c.xdg, c.home), c.expected)
            << (c.xdg ? c.xdg : "(null)") << " / " << (c.home ? c.home : "(null)");
    }
}

TEST(SettingsLocation, LogFileNameGoesToTheTemporaryFolderUnlessAFolderIsNamed) {
    struct Case {
        std::optional<std::string> configured;
        std::string temp;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, "/tmp", "/tmp/qellog_%5N.log"},
        {"", "/tmp", "/tmp/qellog_%5N.log"},
        {"mylog_%N.log", "/var/tmp", "/var/tmp/mylog_%N.log"},
        {"mylog_%N.log", "/var/tmp/", "/var/tmp/mylog_%N.log"},
        {"logs/a_%N.log", "/tmp", "logs/a_%N.log"},
        {"/srv/log/a.log", "/tmp", "/srv/log/a.log"},
        {"C:\\logs\\a.log", "/tmp", "C:\\logs\\a.log"},
        {"a\\b.log", "/tmp", "a\\b.log"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Qel::Logging::ResolveLogFileName(c.configured, c.temp), c.expected)
            << c.configured.value_or("(absent)") << " in " << c.temp;
    }
}

TEST(SettingsScreen, RefusesTextsTooLargeOrTooDeeplyNested) {
    using Qel::Logging::kMaxSettingsBytes;
    using Qel::Logging::kMaxSettingsNesting;
    const auto nested = [](int depth) {
        return "Filter=\"" + std::string(static_cast<std::size_t>(depth), '(') +
               "%Severity% >= error" + std::string(static_cast<std::size_t>(depth), ')') + "\"";
    };
    struct Case {
        std::string name;
        std::string text;
        bool acceptable;
    };
    const std::string deep_line = nested(kMaxSettingsNesting - 2);
    const Case cases[] = {
        {"default text", std::string(DefaultSettingsText()), true},
        {"empty", "", true},
        {"nesting at the limit", nested(kMaxSettingsNesting), true},
        {"nesting one beyond", nested(kMaxSettingsNesting + 1), false},
        {"nesting tens of thousands deep", nested(50000), false},
        {"mixed brackets beyond", "[" + nested(kMaxSettingsNesting), false},
        {"unclosed on one line resets at the next",
         deep_line.substr(0, deep_line.find('%')) + "\r\n" + deep_line + "\r\n" + deep_line, true},
        {"stray closers do not buy depth", std::string(100, ')') + nested(kMaxSettingsNesting + 1),
         false},
        {"size at the limit", std::string(kMaxSettingsBytes, '#'), true},
        {"size one beyond", std::string(kMaxSettingsBytes + 1, '#'), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Qel::Logging::SettingsTextAcceptable(c.text), c.acceptable) << c.name;
    }
}

}  // namespace
