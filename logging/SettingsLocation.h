#pragma once
// Where the logging settings live and where the log goes. The settings folder
// is the user's XDG data folder followed by "Corvane" and "Qel_SDK"; the log
// goes to the temporary-files folder unless the settings name another place.
// Plain functions of the environment; safe on any thread that does not change
// the environment at the same time. No failure is thrown: a folder that cannot
// be determined comes back as an empty string.

#include <optional>
#include <string>

namespace Qel::Logging {

inline constexpr const char* kVendorFolder = "Corvane";
inline constexpr const char* kProductFolder = "Qel_SDK";
inline constexpr const char* kSettingsFileName = "settings.ini";
inline constexpr const char* kDefaultLogFileName = "qellog_%5N.log";

// The base data folder from the two variables' values (either may be null):
// XDG_DATA_HOME when it is an absolute path, else HOME + "/.local/share" when
// HOME is an absolute path, else "". Relative values are ignored, as the XDG
// base directory rules ask.
std::string DataHomeFrom(const char* xdg_data_home, const char* home);

// The base data folder of the current user from the environment, falling back
// to the password database's home folder; "" when none can be found.
std::string DataHome();

// DataHome() + "/Corvane/Qel_SDK", or "" when DataHome() is "".
std::string SettingsFolder();

// SettingsFolder() + "/settings.ini", or "" when SettingsFolder() is "".
std::string SettingsFilePath();

// The log file name to hand to the text-file sink. An absent or empty value
// gives the temporary folder and "qellog_%5N.log"; a value with neither "\"
// nor "/" in it is put into the temporary folder; any other value is used as
// written.
std::string ResolveLogFileName(const std::optional<std::string>& configured,
                               const std::string& temp_folder);

}  // namespace Qel::Logging
