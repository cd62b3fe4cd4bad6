#include "logging/DefaultSettings.h"

#include <cstddef>

namespace Qel::Logging {

namespace Detail {
// Defined in the source the build generates from data/settings.ini.
extern const unsigned char kDefaultSettingsBytes[];
extern const std::size_t kDefaultSettingsBytes_size;
}  // namespace Detail

std::string_view DefaultSettingsText() {
    return {reinterpret_cast<const char*>(Detail::kDefaultSettingsBytes),
            Detail::kDefaultSettingsBytes_size};
}

}  // namespace Qel::Logging
