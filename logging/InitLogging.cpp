#include "logging/InitLogging.h"

#include "logging/DefaultSettings.h"
#include "logging/SettingsLocation.h"
#include "logging/SettingsScreen.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/unlocked_frontend.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>
#include <boost/log/utility/setup/filter_parser.hpp>
#include <boost/log/utility/setup/formatter_parser.hpp>
#include <boost/log/utility/setup/from_settings.hpp>
#include <boost/log/utility/setup/settings_parser.hpp>
#include <boost/smart_ptr/make_shared_object.hpp>

#include <cerrno>
#include <mutex>
#include <sstream>
#include <string_view>

namespace Qel {

namespace {

namespace fs = boost::filesystem;
namespace logging = boost::log;
namespace sinks = boost::log::sinks;

// Boost.Log prints every record to the console while no sink is registered.
// Settings without a sink (an emptied file, a [Core] section alone) must not
// make the library talk on the console, so one sink that accepts nothing is
// always there.
class SilentBackend : public sinks::basic_sink_backend<sinks::concurrent_feeding> {
public:
    void consume(const logging::record_view&) {}
};

void AddSilentSink() {
    auto sink = boost::make_shared<sinks::unlocked_sink<SilentBackend>>();
    sink->set_filter([](const logging::attribute_value_set&) { return false; });
    logging::core::get()->add_sink(sink);
}

// Creates the folder when nothing is there; true when a folder is there now.
bool EnsureFolder(const fs::path& folder) {
    boost::system::error_code error;
    if (!fs::exists(folder, error)) {
        fs::create_directory(folder, error);
    }
    return fs::is_directory(folder, error);
}

// The base data folder, then "Corvane", then "Qel_SDK", each made if missing.
bool PrepareSettingsFolder(const std::string& data_home) {
    boost::system::error_code error;
    // The base folder may be missing on a fresh account (~/.local/share);
    // make it like the platform would when asked for the folder.
    fs::create_directories(data_home, error);
    if (!fs::is_directory(data_home, error)) {
        return false;
    }
    const fs::path vendor = fs::path(data_home) / Logging::kVendorFolder;
    return EnsureFolder(vendor) && EnsureFolder(vendor / Logging::kProductFolder);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The settings file belongs to the user once it exists: O_EXCL guarantees it
// is never replaced, even by a second program starting at the same moment.
void WriteDefaultSettingsIfMissing(const std::string& path) {
    const std::string_view text = Logging::DefaultSettingsText();
    if (text.empty()) {
        return;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    const bool written = WriteAll(fd, text);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        // A cut-off file would be read, and kept, on every later run; without
        // it the next run simply tries again.
        ::unlink(path.c_str());
    }
}

// Reads, screens and applies the settings; false (or an exception) when the
// file cannot be used.
bool ConfigureFromSettings(const std::string& path) {
    const std::optional<std::string> text = Logging::ReadSettingsText(path);
    if (!text || !Logging::SettingsTextAcceptable(*text)) {
        return false;
    }
    std::istringstream in(*text);
    logging::settings settings = logging::parse_settings(in);

    // The log file keeps its place in the temporary folder unless the user
    // named a folder. A missing LogFile section stays missing: adding only a
    // file name would make the sink incomplete and cost every other sink too.
    auto& tree = settings.property_tree();
    if (auto sink = tree.get_child_optional("Sinks.LogFile")) {
        const std::string temp_folder = fs::temp_directory_path().string();
        const auto configured = sink->get_optional<std::string>("FileName");
        const std::optional<std::string> name =
            configured ? std::optional<std::string>(*configured) : std::nullopt;
        sink->put("FileName", Logging::ResolveLogFileName(name, temp_folder));
    }

    logging::init_from_settings(settings);
    AddSilentSink();
    return true;
}

void ConfigureOnce() {
    const auto core = logging::core::get();
    try {
        // A sink that fails later (a log folder that vanished, a full disk)
        // must not throw into whichever library thread is logging.
        core->set_exception_handler(logging::make_exception_suppressor());

        const std::string data_home = Logging::DataHome();
        if (data_home.empty() || !PrepareSettingsFolder(data_home)) {
            core->set_logging_enabled(false);
            return;
        }
        const std::string settings_path = Logging::SettingsFilePath();
        WriteDefaultSettingsIfMissing(settings_path);

        logging::register_simple_formatter_factory<logging::trivial::severity_level, char>(
            "Severity");
        logging::register_simple_filter_factory<logging::trivial::severity_level, char>(
            "Severity");
        logging::add_common_attributes();

        if (!ConfigureFromSettings(settings_path)) {
            core->set_logging_enabled(false);
        }
    } catch (...) {
        core->set_logging_enabled(false);
    }
}

}  // namespace

void InitLogging() {
    // Configuring twice would add every sink twice and write each record twice.
    static std::once_flag once;
    std::call_once(once, ConfigureOnce);
}

}  // namespace Qel
