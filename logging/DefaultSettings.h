#pragma once
// The default logging settings text carried inside the program (built from
// data/settings.ini). InitLogging writes it unchanged, CRLF line ends and
// all, when the user has no settings file yet. Immutable; any thread.

#include <string_view>

namespace Qel::Logging {

// The whole text; empty only when the build embedded an empty file.
std::string_view DefaultSettingsText();

}  // namespace Qel::Logging
