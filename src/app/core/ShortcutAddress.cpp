#include "ShortcutAddress.h"

#include "ShortcutFile.h"
#include "sys/AsciiText.h"

using sys::UpperAscii;

std::string ReadShortcutAddress(const std::string& path) {
    TShortcut shortcut = ReadShortcut(path);
    return shortcut.State == TShortcutState::Address ? std::move(shortcut.Address) : std::string();
}

bool IsWebAddress(const std::string& address) {
    auto colon = address.find(':');
    if (colon == std::string::npos)
        return false;
    std::string scheme = UpperAscii(address.substr(0, colon));
    bool web = scheme == "HTTP" || scheme == "HTTPS" || scheme == "FTP";
    return web && address.compare(colon, 3, "://") == 0;
}
