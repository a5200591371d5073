#include "LongPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

namespace sys {

namespace {

// Closes a descriptor without losing the errno of the call that failed before.
void CloseKeepingErrno(int fd) {
    if (fd < 0 || fd == AT_FDCWD)
        return;
    int saved = errno;
    close(fd);
    errno = saved;
}

std::string_view WithoutLeadingSlashes(std::string_view rest) {
    while (!rest.empty() && rest.front() == '/')
        rest.remove_prefix(1);
    return rest;
}

}  // namespace

int OpenFolder(const std::string& path, int flags) {
    flags |= O_DIRECTORY | O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return open(path.c_str(), flags);
    // The folders on the way are opened in pieces that the system takes, each relative to the
    // one before.
    int base = AT_FDCWD;
    std::string_view rest = path;
    while (rest.size() >= PATH_MAX) {
        std::size_t cut = rest.rfind('/', PATH_MAX - 1);
        if (cut == std::string_view::npos || cut == 0) {
            CloseKeepingErrno(base);
            errno = ENAMETOOLONG;
            return -1;
        }
        std::string piece(rest.substr(0, cut));
        int next = openat(base, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        CloseKeepingErrno(base);
        if (next < 0)
            return -1;
        base = next;
        rest = WithoutLeadingSlashes(rest.substr(cut + 1));
    }
    std::string last = rest.empty() ? std::string(".") : std::string(rest);
    int fd = openat(base, last.c_str(), flags);
    CloseKeepingErrno(base);
    return fd;
}

bool StatEntry(const std::string& folder, const std::string& name, struct stat& st) {
    std::string path = JoinName(folder, name);
    if (path.size() < PATH_MAX)
        return lstat(path.c_str(), &st) == 0;
    int dir = OpenFolder(folder, O_PATH);
    if (dir < 0)
        return false;
    bool ok = fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    CloseKeepingErrno(dir);
    return ok;
}

bool ReadFolder(const std::string& path, std::vector<TFolderEntry>& entries) {
    int fd = OpenFolder(path, O_RDONLY);
    if (fd < 0)
        return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        CloseKeepingErrno(fd);
        return false;
    }
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        struct stat st {};
        if (entry->d_type == DT_UNKNOWN && fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            isFolder = S_ISDIR(st.st_mode);
        entries.push_back({name, isFolder});
    }
    closedir(dir);
    return true;
}

std::string JoinName(const std::string& path, const std::string& name) {
    if (path.empty())
        return name;
    return path.back() == '/' ? path + name : path + '/' + name;
}

}  // namespace sys
