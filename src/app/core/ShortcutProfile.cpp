#include "ShortcutProfile.h"

#include "sys/AsciiText.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t";
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

TProfile::TProfile(std::string_view text) {
    std::string section;
    while (!text.empty()) {
        std::size_t end = text.find_first_of("\r\n");
        std::string_view line = Trimmed(text.substr(0, end));
        if (end == std::string_view::npos)
            text = {};
        else
            text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
        if (line.starts_with('[')) {
            std::string_view name = line.substr(1);
            section = sys::UpperAscii(Trimmed(name.substr(0, name.find(']'))));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        entries_.push_back({section, sys::UpperAscii(Trimmed(line.substr(0, eq))),
                            std::string(Unquoted(Trimmed(line.substr(eq + 1))))});
    }
}

std::optional<std::string> TProfile::Value(std::string_view section, std::string_view key) const {
    const std::string wantedSection = sys::UpperAscii(section);
    const std::string wantedKey = sys::UpperAscii(key);
    for (const TEntry& entry : entries_)
        if (entry.Section == wantedSection && entry.Key == wantedKey)
            return entry.Value;
    return std::nullopt;
}

std::optional<std::string> TProfile::AnyValue(std::string_view key) const {
    const std::string wanted = sys::UpperAscii(key);
    for (const TEntry& entry : entries_)
        if (entry.Key == wanted)
            return entry.Value;
    return std::nullopt;
}

std::string DesktopUnescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t at = 0; at < value.size(); ++at) {
        char c = value[at];
        if (c != '\\' || at + 1 == value.size()) {
            out += c;
            continue;
        }
        switch (char next = value[++at]) {
            case 's':
                out += ' ';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += next;
                break;
        }
    }
    return out;
}
