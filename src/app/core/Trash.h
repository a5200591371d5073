// The freedesktop trash (the desktop's recycle bin) as the place deleted shortcuts go to.
#pragma once

#include <string>

#include "FavoriteEdit.h"

class TFreedesktopTrash : public TTrash {
  public:
    // Moves the file to the trash with its .trashinfo record, so the desktop can restore it.
    // False when the file is still where it was.
    bool DeleteURLFile(const std::string& path) override;
};

// True when trashedPath is a file in the files/ folder of a freedesktop trash: the home trash
// below dataHome, or a .Trash/<uid> or .Trash-<uid> folder at the top of another volume.
bool LiesInTrash(const std::string& trashedPath, const std::string& dataHome, unsigned uid);
