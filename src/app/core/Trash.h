// The freedesktop trash (the desktop's recycle bin) as the place deleted shortcuts go to.
// File names are bytes here from end to end, so a shortcut whose name is not UTF-8 (copied
// from an old Windows disk, say) goes to the trash and comes back under the same name.
#pragma once

#include <string>

#include "FavoriteEdit.h"

class TFreedesktopTrash : public TTrash {
  public:
    // Moves the file into the trash of its file system (the home trash below the data home,
    // else the trash at the top of the file's volume), with the .trashinfo record that lets
    // the desktop restore it. False when the file is still where it was.
    bool DeleteURLFile(const std::string& path) override;
};

// The Path value of a .trashinfo record: every byte outside A-Z a-z 0-9 - _ . ~ / written
// as %XX, so that any bytes survive the trip.
std::string TrashInfoPath(const std::string& path);
