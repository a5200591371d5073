#include "Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "sys/PathText.h"
#include "sys/UserFolders.h"

namespace {

struct TTrashDir {
    std::string Root;      // ends with "/"; holds files/ and info/
    std::string InfoPath;  // the Path value of the record
};

// Creates the folder and any missing parents with mode 0700, the way the trash expects its
// folders to be private.
bool MakePrivateFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1))
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char* cwd = ::getcwd(nullptr, 0);
    std::string absolute = cwd ? std::string(cwd) + "/" + path : path;
    std::free(cwd);
    return absolute;
}

// The top folder of the volume that holds folder: the highest parent on the same device.
std::string VolumeTop(std::string folder, dev_t device) {
    while (folder != "/") {
        std::string parent = sys::FolderOf(folder);
        struct stat st {};
        if (::stat(parent.c_str(), &st) != 0 || st.st_dev != device)
            break;
        folder = parent;
    }
    return folder == "/" ? folder : folder + "/";
}

// $top/.Trash/$uid when the administrator made $top/.Trash (a sticky folder, no link), else
// $top/.Trash-$uid. Paths in its records are relative to $top.
TTrashDir VolumeTrash(const std::string& path, dev_t device) {
    const std::string top = VolumeTop(sys::FolderOf(path), device);
    std::string uid = std::to_string(::getuid());
    struct stat shared {};
    bool sharedOk = ::lstat((top + ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
                    (shared.st_mode & S_ISVTX);
    std::string root = top + (sharedOk ? ".Trash/" + uid : ".Trash-" + uid) + "/";
    return {root, path.substr(top.size())};
}

std::optional<TTrashDir> TrashFor(const std::string& path) {
    struct stat file {
    }, home{};
    const std::string dataHome = sys::DataHome();
    if (::lstat(path.c_str(), &file) != 0 || !MakePrivateFolders(dataHome) ||
        ::stat(dataHome.c_str(), &home) != 0)
        return std::nullopt;
    TTrashDir trash = file.st_dev == home.st_dev ? TTrashDir{dataHome + "/Trash/", path}
                                                 : VolumeTrash(path, file.st_dev);
    if (!MakePrivateFolders(trash.Root + "files") || !MakePrivateFolders(trash.Root + "info"))
        return std::nullopt;
    return trash;
}

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// "name.url", then "name (2).url", "name (3).url", ...
std::string Candidate(const std::string& name, int n) {
    if (n == 1)
        return name;
    std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string::npos)
        dot = name.size();
    return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

std::string DeletionDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Claims a free name in the trash by creating its record (O_EXCL makes the claim atomic, as
// the trash's rules ask) and writes the record. The chosen name, or nothing.
std::optional<std::string> WriteRecord(const TTrashDir& trash, const std::string& name) {
    const std::string record = "[Trash Info]\nPath=" + TrashInfoPath(trash.InfoPath) +
                               "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n < 10000; ++n) {
        std::string candidate = Candidate(name, n);
        struct stat st {};
        if (::lstat((trash.Root + "files/" + candidate).c_str(), &st) == 0)
            continue;
        std::string info = trash.Root + "info/" + candidate + ".trashinfo";
        int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return std::nullopt;
        bool written = WriteAll(fd, record) && ::fsync(fd) == 0;
        if (::close(fd) == 0 && written)
            return candidate;
        ::unlink(info.c_str());
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string TrashInfoPath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

bool TFreedesktopTrash::DeleteURLFile(const std::string& path) {
    const std::string absolute = AbsolutePath(path);
    std::optional<TTrashDir> trash = TrashFor(absolute);
    if (!trash)
        return false;
    std::optional<std::string> name = WriteRecord(*trash, BaseName(absolute));
    if (!name)
        return false;
    if (::rename(absolute.c_str(), (trash->Root + "files/" + *name).c_str()) == 0)
        return true;
    ::unlink((trash->Root + "info/" + *name + ".trashinfo").c_str());
    return false;
}
