// Letter case of ASCII letters only: texts are bytes, and every case-insensitive rule of the
// program folds a-z (or A-Z) and leaves every other byte as it is.
#pragma once

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

}  // namespace sys
