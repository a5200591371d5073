// A profile (INI) text read as Windows' profile functions read it: lines end at CR LF, LF or
// a lone CR; "[name]" starts a section; "key=value" lines with the blanks around key and value
// dropped, and a value's enclosing pair of quotes too; names compare in any letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TProfile {
  public:
    explicit TProfile(std::string_view text);
    // The first value of key in the first section of that name that has it.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // The first value of key in any section (or before the first section).
    std::optional<std::string> AnyValue(std::string_view key) const;

  private:
    struct TEntry {
        std::string Section;  // upper-cased in ASCII, as the key
        std::string Key;
        std::string Value;
    };
    std::vector<TEntry> entries_;
};

// A freedesktop value with its escapes (\s \t \n \r \\) resolved.
std::string DesktopUnescaped(std::string_view value);
