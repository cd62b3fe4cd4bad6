#pragma once
// Screening of a settings text before Boost.Log's settings parser sees it.
// That parser descends recursively into nested parentheses of a Filter value
// and runs out of stack on a few tens of thousands of levels, which would
// kill the program instead of switching logging off; so a text that is too
// large or too deeply nested is refused here. Pure functions; any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Qel::Logging {

// Far above any settings file a person writes (the default is under 2 KiB).
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024;
// Deepest nesting of (, [ and { together on one line.
inline constexpr int kMaxSettingsNesting = 32;

// True when the text is at most kMaxSettingsBytes long and no line nests
// brackets deeper than kMaxSettingsNesting. Brackets inside quoted strings
// count as well: refusing an odd file is cheap, a crash is not.
bool SettingsTextAcceptable(std::string_view text);

// Reads the whole file in binary mode, but no more than kMaxSettingsBytes + 1
// bytes. Empty optional when the file cannot be opened or read.
std::optional<std::string> ReadSettingsText(const std::string& path);

}  // namespace Qel::Logging
