// The address that opening an Internet shortcut goes to: the one the scan lists and checks.
#pragma once

#include <string>

// The shortcut's address as the scan reads it (see ReadShortcut); empty when the file cannot
// be read or names none.
std::string ReadShortcutAddress(const std::string& path);

// True for the addresses that visiting may hand to the browser: http, https and ftp. Anything
// else (file:, javascript:, a bare path) could make the desktop run a local program.
bool IsWebAddress(const std::string& address);
