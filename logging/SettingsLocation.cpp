#include "logging/SettingsLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace Qel::Logging {

namespace {

bool IsAbsolute(const char* value) {
    return value != nullptr && value[0] == '/';
}

std::string JoinPath(std::string folder, const std::string& name) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder + name;
}

// HOME is unset for some services; the password database still knows.
std::string PasswordHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
        result == nullptr || !IsAbsolute(result->pw_dir)) {
        return {};
    }
    return result->pw_dir;
}

}  // namespace

std::string DataHomeFrom(const char* xdg_data_home, const char* home) {
    if (IsAbsolute(xdg_data_home)) {
        return xdg_data_home;
    }
    if (IsAbsolute(home)) {
        return JoinPath(home, ".local/share");
    }
    return {};
}

std::string DataHome() {
    std::string folder = DataHomeFrom(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (folder.empty()) {
        const std::string home = PasswordHome();
        if (!home.empty()) {
            folder = DataHomeFrom(nullptr, home.c_str());
        }
    }
    return folder;
}

std::string SettingsFolder() {
    const std::string base = DataHome();
    if (base.empty()) {
        return {};
    }
    return JoinPath(JoinPath(base, kVendorFolder), kProductFolder);
}

std::string SettingsFilePath() {
    const std::string folder = SettingsFolder();
    return folder.empty() ? std::string{} : JoinPath(folder, kSettingsFileName);
}

std::string ResolveLogFileName(const std::optional<std::string>& configured,
                               const std::string& temp_folder) {
    if (!configured || configured->empty()) {
        return JoinPath(temp_folder, kDefaultLogFileName);
    }
    if (configured->find_first_of("\\/") == std::string::npos) {
        return JoinPath(temp_folder, *configured);
    }
    return *configured;
}

}  // namespace Qel::Logging
