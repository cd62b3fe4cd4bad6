// InitLogging from end to end. Logging is configured once per process, so
// every case runs InitLogging in a forked child with its own HOME,
// XDG_DATA_HOME and TMPDIR under a fresh temporary folder, and the parent
// looks at the files and the output the child left behind.

#include "logging/DefaultSettings.h"
#include "logging/InitLogging.h"

#include "ForkedRun.h"

#include <gtest/gtest.h>

#include <boost/log/core.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>

#include <pthread.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Severity = boost::log::trivial::severity_level;
using Records = std::vector<std::pair<Severity, std::string>>;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Shape match without std::regex (which trips GCC's maybe-uninitialized
// warning under the sanitizers): "#" is one digit, "*" any run of characters.
bool Matches(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) {
        return text.empty();
    }
    if (pattern.front() == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (Matches(pattern.substr(1), text.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    if (text.empty()) {
        return false;
    }
    const bool same = pattern.front() == '#' ? (text.front() >= '0' && text.front() <= '9')
                                             : pattern.front() == text.front();
    return same && Matches(pattern.substr(1), text.substr(1));
}

// The default format's time stamp, as Boost.Log writes a local time.
const std::string kStamp = "[####-##-## ##:##:##.######]: ";

// Exit code of the child body: whether the logging core was left switched on.
constexpr int kLoggingOn = 1;
constexpr int kLoggingOff = 0;

// InitLogging as often as asked, then the records, in the child.
int InitAndLog(int init_calls, const Records& records) {
    for (int i = 0; i < init_calls; ++i) {
        Qel::InitLogging();
    }
    boost::log::sources::severity_logger<Severity> logger;
    for (const auto& [severity, text] : records) {
        BOOST_LOG_SEV(logger, severity) << text;
    }
    boost::log::core::get()->flush();
    return boost::log::core::get()->get_logging_enabled() ? kLoggingOn : kLoggingOff;
}

// Runs the body on a thread with a stack of the given size, as a program
// that creates its ConnectionList on a worker thread would; -1 when the
// thread cannot be made.
int OnSmallStack(std::size_t stack_bytes, const std::function<int()>& body) {
    struct Call {
        const std::function<int()>* body;
        int result = -1;
    } call{&body};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_bytes);
    pthread_t thread;
    const auto run = [](void* arg) -> void* {
        auto* c = static_cast<Call*>(arg);
        c->result = (*c->body)();
        return nullptr;
    };
    const bool started = pthread_create(&thread, &attr, run, &call) == 0;
    pthread_attr_destroy(&attr);
    if (!started) {
        return -1;
    }
    pthread_join(thread, nullptr);
    return call.result;
}

class InitLoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qel_logging_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(Tmp());
        fs::create_directories(Home());
        fs::create_directories(Data());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path Home() const { return root_ / "home"; }
    fs::path Data() const { return root_ / "data"; }
    fs::path Tmp() const { return root_ / "tmp"; }
    fs::path SettingsFile() const { return Data() / "Corvane" / "Qel_SDK" / "settings.ini"; }

    std::map<std::string, std::string> Env() const {
        return {{"HOME", Home().string()},
                {"XDG_DATA_HOME", Data().string()},
                {"TMPDIR", Tmp().string()}};
    }

    QelTest::ForkedResult Run(const Records& records, int init_calls = 1) {
        return RunWith(Env(), records, init_calls);
    }
    // stack_bytes 0: on the child's main thread; else on a thread of that size.
    QelTest::ForkedResult RunWith(const std::map<std::string, std::string>& env,
                                  const Records& records, int init_calls = 1,
                                  std::size_t stack_bytes = 0) {
        const fs::path cwd = root_;
        return QelTest::RunForked(env, [&] {
            // Relative log names land here rather than wherever ctest runs.
            if (chdir(cwd.c_str()) != 0) {
                return 253;
            }
            const auto body = [&] { return InitAndLog(init_calls, records); };
            return stack_bytes == 0 ? body() : OnSmallStack(stack_bytes, body);
        });
    }

    std::vector<fs::path> FilesIn(const fs::path& folder) const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    fs::path root_;
};

// Settings with one file sink; `file_name_line` and `core_filter` vary.
std::string SinkSettings(const std::string& file_name_line,
                         const std::string& core_filter = "%Severity% >= error",
                         const std::string& format = "[%TimeStamp%]: (%Severity%) %Message%") {
    return "[Core]\r\nFilter=\"" + core_filter +
           "\"\r\n\r\n[Sinks.LogFile]\r\nDestination=TextFile\r\n" + file_name_line +
           "Format=\"" + format + "\"\r\nAutoFlush=true\r\nAppend=true";
}

TEST_F(InitLoggingTest, FirstRunCreatesBothFoldersAndTheDefaultFileByteForByte) {
    // Once through XDG_DATA_HOME, once through HOME alone, where even the
    // base data folder has to be made.
    struct Case {
        const char* name;
        bool use_xdg;
        fs::path expected;
    };
    const Case cases[] = {
        {"XDG_DATA_HOME", true, Data() / "Corvane" / "Qel_SDK" / "settings.ini"},
        {"HOME", false, Home() / ".local" / "share" / "Corvane" / "Qel_SDK" / "settings.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto env = Env();
        if (!c.use_xdg) {
            env["XDG_DATA_HOME"] = "";
        }
        const auto result = RunWith(env, {});
        EXPECT_EQ(result.exit_code, kLoggingOn);
        EXPECT_EQ(result.output, "");
        ASSERT_TRUE(fs::is_regular_file(c.expected));
        EXPECT_EQ(ReadFile(c.expected), Qel::Logging::DefaultSettingsText());
    }
}

TEST_F(InitLoggingTest, DefaultSettingsLogErrorsIntoTheTemporaryFolderAndDropWarnings) {
    const auto result = Run({{Severity::warning, "a warning"},
                             {Severity::error, "an error"},
                             {Severity::info, "some info"},
                             {Severity::fatal, "the end"}});
    EXPECT_EQ(result.exit_code, kLoggingOn);
    EXPECT_EQ(result.output, "");

    const fs::path log = Tmp() / "qellog_00000.log";
    ASSERT_EQ(FilesIn(Tmp()), std::vector<fs::path>{log});
    const auto lines = Lines(ReadFile(log));
    ASSERT_EQ(lines.size(), 2u) << ReadFile(log);
    EXPECT_TRUE(Matches(kStamp + "(error) an error", lines[0])) << lines[0];
    EXPECT_TRUE(Matches(kStamp + "(fatal) the end", lines[1])) << lines[1];
}

TEST_F(InitLoggingTest, AnExistingSettingsFileIsReadAndNeverRewritten) {
    const std::string mine = SinkSettings("FileName=\"mine_%N.log\"\r\n");
    WriteFile(SettingsFile(), mine);
    const auto result = Run({{Severity::error, "hello"}});
    EXPECT_EQ(result.exit_code, kLoggingOn);
    EXPECT_EQ(ReadFile(SettingsFile()), mine);
    EXPECT_TRUE(fs::exists(Tmp() / "mine_0.log"));
}

TEST_F(InitLoggingTest, FileNameFilterAndFormatFollowTheSettings) {
    struct Case {
        const char* name;
        std::string settings;
        fs::path expected_log;
        std::vector<std::string> expected_lines;  // patterns for Matches
    };
    const fs::path elsewhere = root_ / "elsewhere";
    fs::create_directories(elsewhere);
    const Case cases[] = {
        {"name without a folder goes to the temporary folder",
         SinkSettings("FileName=\"mylog_%N.log\"\r\n"), Tmp() / "mylog_0.log",
         {kStamp + "(error) e"}},
        {"absolute name is used as written",
         SinkSettings("FileName=\"" + (elsewhere / "b_%N.log").string() + "\"\r\n"),
         elsewhere / "b_0.log", {kStamp + "(error) e"}},
        {"relative name with a slash is used as written",
         SinkSettings("FileName=\"elsewhere/c_%N.log\"\r\n"), elsewhere / "c_0.log",
         {kStamp + "(error) e"}},
        {"no FileName uses the default name", SinkSettings(""), Tmp() / "qellog_00000.log",
         {kStamp + "(error) e"}},
        {"a trace filter passes every record",
         SinkSettings("", "%Severity% >= trace"), Tmp() / "qellog_00000.log",
         {kStamp + "(trace) t", kStamp + "(warning) w", kStamp + "(error) e"}},
        {"common attributes are there for the format",
         SinkSettings("", "%Severity% >= error", "%LineID% %ProcessID% %ThreadID% %Message%"),
         Tmp() / "qellog_00000.log", {"1 0x* 0x* e"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(SettingsFile(), c.settings);
        const auto result =
            Run({{Severity::trace, "t"}, {Severity::warning, "w"}, {Severity::error, "e"}});
        EXPECT_EQ(result.exit_code, kLoggingOn);
        EXPECT_EQ(result.output, "");
        const auto lines = Lines(ReadFile(c.expected_log));
        ASSERT_EQ(lines.size(), c.expected_lines.size()) << c.expected_log;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(Matches(c.expected_lines[i], lines[i])) << lines[i];
        }
        fs::remove(c.expected_log);
    }
}

TEST_F(InitLoggingTest, UnusableSettingsSwitchLoggingOffQuietly) {
    struct Case {
        const char* name;
        std::string settings;
    };
    // Within the size limit, and far deeper than the parser's recursion can
    // take on the small stack used below.
    const std::string deep(30000, '(');
    const Case cases[] = {
        {"unterminated section header", "[Core\r\nFilter=\"%Severity% >= error\""},
        {"unterminated quote", SinkSettings("FileName=\"mylog.log\r\n")},
        {"filter syntax error", SinkSettings("", "%Severity% >=>= error")},
        {"unknown severity name", SinkSettings("", "%Severity% >= loud")},
        {"unknown sink destination", "[Sinks.LogFile]\r\nDestination=Carrier pigeon\r\n"},
        {"filter nested tens of thousands deep",
         SinkSettings("", deep + "%Severity% >= error" + std::string(deep.size(), ')'))},
        {"file larger than the limit", std::string(100 * 1024, '#') + "\r\n" + SinkSettings("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(SettingsFile(), c.settings);
        const auto result = RunWith(Env(), {{Severity::fatal, "lost"}}, 1, 512 * 1024);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exit_code, kLoggingOff);
        EXPECT_EQ(result.output, "");
        EXPECT_TRUE(FilesIn(Tmp()).empty());
        EXPECT_TRUE(FilesIn(root_ / "home").empty());
    }
}

TEST_F(InitLoggingTest, SettingsWithoutASinkPrintNothing) {
    for (const std::string settings : {"", "[Core]\r\nDisableLogging=false"}) {
        SCOPED_TRACE(settings);
        WriteFile(SettingsFile(), settings);
        const auto result = Run({{Severity::fatal, "silent"}});
        EXPECT_EQ(result.exit_code, kLoggingOn);
        EXPECT_EQ(result.output, "");
        EXPECT_TRUE(FilesIn(Tmp()).empty());
    }
}

TEST_F(InitLoggingTest, SettingsWithoutALogFileSectionKeepTheirOtherSinks) {
    WriteFile(SettingsFile(),
              "[Sinks.Console]\r\nDestination=Console\r\nFormat=\"(%Severity%) %Message%\"");
    const auto result = Run({{Severity::error, "on the console"}});
    EXPECT_EQ(result.exit_code, kLoggingOn);
    EXPECT_EQ(result.output, "(error) on the console\n");
    EXPECT_TRUE(FilesIn(Tmp()).empty());
}

TEST_F(InitLoggingTest, SettingsFileThatIsAFolderSwitchesLoggingOff) {
    fs::create_directories(SettingsFile());
    const auto result = Run({{Severity::fatal, "lost"}});
    EXPECT_EQ(result.exit_code, kLoggingOff);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(FilesIn(Tmp()).empty());
}

TEST_F(InitLoggingTest, UncreatableSettingsFolderContinuesWithoutLogging) {
    WriteFile(root_ / "plain_file", "not a folder");
    auto env = Env();
    env["XDG_DATA_HOME"] = (root_ / "plain_file" / "data").string();
    const auto result = RunWith(env, {{Severity::fatal, "lost"}});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, kLoggingOff);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(FilesIn(Tmp()).empty());
}

TEST_F(InitLoggingTest, ASecondCallAddsNoSecondSink) {
    const auto result = Run({{Severity::error, "once"}}, /*init_calls=*/2);
    EXPECT_EQ(result.exit_code, kLoggingOn);
    EXPECT_EQ(Lines(ReadFile(Tmp() / "qellog_00000.log")).size(), 1u);
}

TEST_F(InitLoggingTest, ALogFileThatCannotBeOpenedDoesNotThrowIntoTheLogger) {
    WriteFile(root_ / "plain_file", "not a folder");
    WriteFile(SettingsFile(),
              SinkSettings("FileName=\"" + (root_ / "plain_file" / "x_%N.log").string() + "\"\r\n"));
    const auto result = Run({{Severity::error, "nowhere to go"}, {Severity::fatal, "still fine"}});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, kLoggingOn);
    EXPECT_EQ(result.output, "");
}

}  // namespace
