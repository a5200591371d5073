// The system's list of file and folder icons, shared by the whole process: every kind of icon
// gets an index on first sight and keeps it for the life of the process, so that the indexes
// the shell browser reports (SmallIconIndex) stay valid in both sizes. Indexes are handed out
// without any GUI (SystemIconTheme.h makes the icons), so that the headless checker does not
// load Qt Gui.
#pragma once

#include <string>
#include <string_view>

#include "IDList.h"
#include "ShellNamespace.h"

namespace shell {

// What an index stands for: the object's kind and its icon names in the icon theme. A file's
// key holds its type as its name shows it (fileType: the extension in lower case, or the whole
// name when it has none), which the icon theme turns into icon names when it makes the picture;
// looking types up when the index is handed out would load the MIME database, and Qt with it,
// into the headless checker.
struct TIconKey {
    TIconKind kind = TIconKind::File;
    std::string iconName;
    std::string genericIconName;
    std::string fileType;
    bool operator==(const TIconKey&) const = default;
};

// The key of a file of this name's type; the empty name is the file of unknown type.
TIconKey FileTypeKey(std::string_view fileName);

// Indexes that never change once given. Index 0 is the icon of a file of unknown type.
class TSystemIconTable {
  public:
    int IndexOf(const TIconKey& key);
    // The key of an index; the unknown-file key for an index out of range.
    TIconKey KeyAt(int index) const;
    int Count() const;
};

TSystemIconTable& SystemIconTable();

// The icon index of the object named by an absolute id list (its small and large icons share
// it). An object that is gone gets the icon of its file type, or of an unknown file.
int SystemIconIndex(LPCITEMIDLIST absolute);
// The icon index of a file of this name's type, without looking at the disk.
int FileTypeIconIndex(std::string_view fileName);

// The key of a kind's own icon, for when the theme has none for a more exact name.
TIconKey KindIconKey(TIconKind kind);

// Pixel sizes of the small and large icons (16 and 32).
int SmallSystemIconSize();
int LargeSystemIconSize();

}  // namespace shell
