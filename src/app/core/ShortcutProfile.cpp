#include "ShortcutProfile.h"

#include "sys/AsciiText.h"

namespace profile {

std::string_view Trimmed(std::string_view text) {
    return sys::TrimmedView(text);
}

std::size_t LineEnd(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] != '\n' && text[at] != '\r')
        ++at;
    return at;
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (sys::UpperAscii(a[i]) != sys::UpperAscii(b[i]))
            return false;
    return true;
}

}  // namespace profile

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
