// A profile (INI) text read as Windows' profile functions read it: lines end at CR LF, LF or
// a lone CR; "[name]" starts a section; "key=value" lines with the blanks around key and value
// dropped, and a value's enclosing pair of quotes too; names compare in any letter case.
#pragma once

#include <string>
#include <string_view>

namespace profile {

std::string_view Trimmed(std::string_view text);
// Where the line that begins at text[0] ends (at CR or LF), or text.size().
std::size_t LineEnd(std::string_view text);
std::string_view Unquoted(std::string_view value);
// Equal but for the letter case of ASCII letters.
bool SameName(std::string_view a, std::string_view b);

// Calls visit(section, key, value) for each key line in the order of the text, the names as
// written (trimmed); a line before the first section has an empty section. Stops when visit
// returns false. The views point into text.
template <typename Visit>
void ForEachEntry(std::string_view text, Visit visit) {
    std::string_view section;
    while (!text.empty()) {
        std::size_t end = LineEnd(text);
        std::string_view line = Trimmed(text.substr(0, end));
        if (end == text.size())
            text = {};
        else
            text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
        if (!line.empty() && line.front() == '[') {
            std::string_view name = line.substr(1);
            section = Trimmed(name.substr(0, name.find(']')));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq != std::string_view::npos &&
            !visit(section, Trimmed(line.substr(0, eq)), Unquoted(Trimmed(line.substr(eq + 1)))))
            return;
    }
}

}  // namespace profile

// A freedesktop value with its escapes (\s \t \n \r \\) resolved.
std::string DesktopUnescaped(std::string_view value);
