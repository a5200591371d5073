// Folders named by paths of any length. The system takes at most PATH_MAX bytes in one path;
// a longer one is opened one name after the other, so that deep folders work like any other.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace sys {

// Opens a folder with the given open() flags (O_DIRECTORY and O_CLOEXEC are added). The
// descriptor, or -1 with errno set.
int OpenFolder(const std::string& path, int flags);

// lstat() of one entry of a folder. False with errno set when it fails.
bool StatEntry(const std::string& folder, const std::string& name, struct stat& st);

struct TFolderEntry {
    std::string name;
    bool isFolder = false;  // a real folder; a link to one is not
};

// The entries of a folder other than "." and "..", in the order the system gives them. False
// with errno set when the folder cannot be read.
bool ReadFolder(const std::string& path, std::vector<TFolderEntry>& entries);

// path + "/" + name, without doubling a trailing "/".
std::string JoinName(const std::string& path, const std::string& name);

}  // namespace sys
