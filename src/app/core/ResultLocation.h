// Where the result file lives: beside the program, as one file for every user of that copy,
// unless the program's folder takes no writes (an installed program); then in the user's
// data folder, $XDG_DATA_HOME/quorvane/urls.dat (default ~/.local/share/quorvane/).
#pragma once

#include <string>

// The folder of the program's data below the user's data home, ending with "/".
std::string UserDataFolder();

// programDir + "urls.dat" when the folder is writable or a writable urls.dat is there already;
// otherwise the file in UserDataFolder(), whose folder is made (mode 0700) when missing. The
// same choice serves reading at start and writing later, so results come back from where
// they went.
std::string ResultFilePath(const std::string& programDir);
