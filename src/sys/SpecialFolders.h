// Where the user's special folders live on this system: the favourites folder, the XDG user
// directories, the freedesktop trash and a few more, by the shell's folder ids (CSIDL values).
#pragma once

#include <optional>
#include <string>

namespace sys {

// The shell's folder ids that have a file-system folder here.
constexpr int CSIDL_DESKTOP = 0x00;
constexpr int CSIDL_PROGRAMS = 0x02;
constexpr int CSIDL_CONTROLS = 0x03;
constexpr int CSIDL_PRINTERS = 0x04;
constexpr int CSIDL_PERSONAL = 0x05;
constexpr int CSIDL_FAVORITES = 0x06;
constexpr int CSIDL_STARTUP = 0x07;
constexpr int CSIDL_RECENT = 0x08;
constexpr int CSIDL_SENDTO = 0x09;
constexpr int CSIDL_BITBUCKET = 0x0A;
constexpr int CSIDL_STARTMENU = 0x0B;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
constexpr int CSIDL_DRIVES = 0x11;
constexpr int CSIDL_NETWORK = 0x12;
constexpr int CSIDL_NETHOOD = 0x13;
constexpr int CSIDL_FONTS = 0x14;
constexpr int CSIDL_TEMPLATES = 0x15;
constexpr int CSIDL_COMMON_STARTMENU = 0x16;
constexpr int CSIDL_COMMON_STARTUP = 0x18;
constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x19;
constexpr int CSIDL_APPDATA = 0x1A;
constexpr int CSIDL_PRINTHOOD = 0x1B;
constexpr int CSIDL_COMMON_FAVORITES = 0x1F;
constexpr int CSIDL_INTERNET_CACHE = 0x20;
constexpr int CSIDL_COOKIES = 0x21;
constexpr int CSIDL_HISTORY = 0x22;

// The user's home folder: $HOME, read at every call, else the password database's entry.
std::string HomeDirectory();

// The file-system folder of a folder id, without a trailing "/", when this system has one and
// it exists as a directory now. The virtual folders (desktop, drives) are not file-system
// folders and give nothing here.
std::optional<std::string> SpecialFolderPath(int csidl);

}  // namespace sys
