// Folders that the kernel makes up rather than stores (/proc, /sys, cgroups, the devices...):
// their trees are vast or endless and hold no favourites, so the scan never enters them.
#pragma once

// True for a folder, open as fd, on such a file system. A folder that cannot be asked is
// taken as a real one.
bool IsSystemFolder(int fd);
