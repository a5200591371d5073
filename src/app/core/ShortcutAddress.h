// The address that opening an Internet shortcut goes to (its URL= entry, not BASEURL=).
#pragma once

#include <string>

// The value of the URL= entry of the [InternetShortcut] section, or of the first URL= entry
// anywhere when that section has none; keys and section names in any letter case, blanks
// around key and value ignored. Empty when the file cannot be read or has no such entry.
std::string ReadShortcutAddress(const std::string& path);

// True for the addresses that visiting may hand to the browser: http, https and ftp. Anything
// else (file:, javascript:, a bare path) could make the desktop run a local program.
bool IsWebAddress(const std::string& address);
