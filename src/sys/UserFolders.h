// Where the user's special folders live on this system: the favourites folder, the XDG user
// directories, the freedesktop trash and a few more, by the shell's folder ids.
#pragma once

#include <optional>
#include <string>

namespace sys {

// The shell's folder ids that have a file-system folder here.
constexpr int kFolderDesktop = 0x00;
constexpr int kFolderPrograms = 0x02;
constexpr int kFolderControls = 0x03;
constexpr int kFolderPrinters = 0x04;
constexpr int kFolderPersonal = 0x05;
constexpr int kFolderFavorites = 0x06;
constexpr int kFolderStartup = 0x07;
constexpr int kFolderRecent = 0x08;
constexpr int kFolderSendto = 0x09;
constexpr int kFolderBitbucket = 0x0A;
constexpr int kFolderStartmenu = 0x0B;
constexpr int kFolderDesktopdirectory = 0x10;
constexpr int kFolderDrives = 0x11;
constexpr int kFolderNetwork = 0x12;
constexpr int kFolderNethood = 0x13;
constexpr int kFolderFonts = 0x14;
constexpr int kFolderTemplates = 0x15;
constexpr int kFolderCommonStartmenu = 0x16;
constexpr int kFolderCommonStartup = 0x18;
constexpr int kFolderCommonDesktopdirectory = 0x19;
constexpr int kFolderAppdata = 0x1A;
constexpr int kFolderPrinthood = 0x1B;
constexpr int kFolderCommonFavorites = 0x1F;
constexpr int kFolderInternetCache = 0x20;
constexpr int kFolderCookies = 0x21;
constexpr int kFolderHistory = 0x22;

// The user's home folder: $HOME, read at every call, else the password database's entry.
std::string HomeDirectory();
// $XDG_DATA_HOME when it is an absolute path (a relative one is invalid by the XDG rules),
// else ~/.local/share; read at every call.
std::string DataHome();

// The file-system folder of a folder id, without a trailing "/", when this system has one and
// it exists as a directory now. The virtual folders (desktop, drives) are not file-system
// folders and give nothing here.
std::optional<std::string> SpecialFolderPath(int folderId);

}  // namespace sys
