#include "ShortcutAddress.h"

#include <fstream>

#include "sys/AsciiText.h"

namespace {

using sys::UpperAscii;

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::string ReadShortcutAddress(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::string section;
    std::string fallback;
    bool haveFallback = false;
    while (std::getline(in, line)) {
        std::string text = Trim(line);
        if (!text.empty() && text.front() == '[') {
            auto close = text.find(']');
            section =
                UpperAscii(Trim(text.substr(1, close == std::string::npos ? close : close - 1)));
            continue;
        }
        auto eq = text.find('=');
        if (eq == std::string::npos || UpperAscii(Trim(text.substr(0, eq))) != "URL")
            continue;
        std::string value = Trim(text.substr(eq + 1));
        if (section == "INTERNETSHORTCUT")
            return value;
        if (!haveFallback) {
            fallback = value;
            haveFallback = true;
        }
    }
    return fallback;
}

bool IsWebAddress(const std::string& address) {
    auto colon = address.find(':');
    if (colon == std::string::npos)
        return false;
    std::string scheme = UpperAscii(address.substr(0, colon));
    bool web = scheme == "HTTP" || scheme == "HTTPS" || scheme == "FTP";
    return web && address.compare(colon, 3, "://") == 0;
}
