// Reading Internet shortcut files: Windows' ".url" files, read as the profile functions read
// them, and the freedesktop link files (".desktop" with Type=Link) that a Linux desktop makes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class TShortcutKind { None, Url, Desktop };

// What a name's extension (from its last ".", any letter case) makes of a file: ".url",
// ".desktop", or neither.
TShortcutKind ShortcutKindOf(std::string_view name);

enum class TShortcutState {
    Unreadable,  // not a regular file, or no access
    NotALink,    // a desktop file of another type (an application, say)
    NoAddress,   // a shortcut, but nothing in it names an address
    Address,
};

struct TShortcut {
    TShortcutState State = TShortcutState::Unreadable;
    std::string Address;  // UTF-8 where the file said how to decode it, else bytes as stored
};

// The address that opening the file visits, from its text. ".url": URL= of
// [InternetShortcut.W] decoded from UTF-7 where that section has one, else URL= of
// [InternetShortcut], else the first BASEURL= of the file (old browsers wrote only that).
// ".desktop": URL= of [Desktop Entry] when its Type= is Link. Sections and keys in any letter
// case, blanks around keys and values dropped; an address never holds CR, LF or NUL.
TShortcut ShortcutIn(std::string_view bytes, TShortcutKind kind);

// The same read from a file; the kind comes from the name. A path of any length.
TShortcut ReadShortcut(const std::string& path);
// The same for the entry name of the folder open as dirFd. A regular entry (as the folder
// listed it) is opened without following a link put in its place meanwhile, so that no device
// is read endlessly; any other entry must turn out to be a regular file.
TShortcut ReadShortcutAt(int dirFd, const char* name, TShortcutKind kind, bool regularEntry);
