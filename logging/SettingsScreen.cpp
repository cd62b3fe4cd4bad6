#include "logging/SettingsScreen.h"

#include <fstream>

namespace Qel::Logging {

bool SettingsTextAcceptable(std::string_view text) {
    if (text.size() > kMaxSettingsBytes) {
        return false;
    }
    int depth = 0;
    for (const char c : text) {
        switch (c) {
        case '(':
        case '[':
        case '{':
            if (++depth > kMaxSettingsNesting) {
                return false;
            }
            break;
        case ')':
        case ']':
        case '}':
            if (depth > 0) {
                --depth;
            }
            break;
        case '\n':
            // Every value ends with its line, so nesting cannot carry over.
            depth = 0;
            break;
        default:
            break;
        }
    }
    return true;
}

std::optional<std::string> ReadSettingsText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    // One byte beyond the limit is enough to tell that the file is too large.
    std::string text(kMaxSettingsBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace Qel::Logging
