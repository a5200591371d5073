// ASCII rules on texts that are bytes. Letter case: every case-insensitive rule of the program
// folds a-z (or A-Z) and leaves every other byte as it is. Blanks: each caller names its set.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace sys {

constexpr char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = UpperAscii(c);
    return out;
}

inline std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = LowerAscii(c);
    return out;
}

// Space and tab: the blanks of header values and environment lists.
inline constexpr std::string_view kSpaceAndTab = " \t";

// Space and every control byte below it (NUL included): the blanks that the socket layer drops
// around the addresses, ports and protocols it is given.
inline constexpr auto kSpaceAndControlBytes = [] {
    std::array<char, ' ' + 1> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}();
inline constexpr std::string_view kSpaceAndControls{kSpaceAndControlBytes.data(),
                                                    kSpaceAndControlBytes.size()};

// The part of text without the blanks at its start and end; blanks inside stay.
constexpr std::string_view TrimmedView(std::string_view text,
                                       std::string_view blanks = kSpaceAndTab) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The same as a string of its own.
inline std::string TrimBlanks(std::string_view text, std::string_view blanks = kSpaceAndTab) {
    return std::string(TrimmedView(text, blanks));
}

}  // namespace sys
