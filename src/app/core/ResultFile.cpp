#include "ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "RowText.h"
#include "sys/AsciiText.h"
#include "sys/PathText.h"

namespace {

using sys::UpperAscii;

constexpr const char* ReadPastEndText = "Versuch hinter dem Dateiende zu lesen";
constexpr const char* NegativeLengthText = "Ungültige Textlänge in der Ergebnisdatei";
constexpr std::size_t ReadStep = 64 * 1024;

// The texts the user sees for failed file operations; the rarer ones keep the system's text.
std::string IoErrorText(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return "Zu wenig Speicherplatz";
        case EACCES:
        case EPERM:
            return "Zugriff verweigert";
        case EROFS:
            return "Das Dateisystem ist schreibgeschützt";
        case EFBIG:
            return "Die Datei ist zu groß";
        case EIO:
            return "Ein-/Ausgabefehler";
        case ENOENT:
            return "Der Ordner existiert nicht";
        case ENOTDIR:
            return "Ein Teil des Pfades ist kein Ordner";
        case EISDIR:
            return "Dort liegt ein Ordner";
        default:
            return std::strerror(error);
    }
}

[[noreturn]] void RaiseIoError(int error) {
    throw EResultFileError(IoErrorText(error));
}

// A short read is either an error of the device or the end of the file.
[[noreturn]] void RaiseShortRead(std::FILE* file) {
    if (std::ferror(file))
        RaiseIoError(errno ? errno : EIO);
    throw EResultFileError(ReadPastEndText);
}

void WriteBytes(std::FILE* file, const void* bytes, std::size_t count) {
    if (count > 0 && std::fwrite(bytes, 1, count, file) != count)
        RaiseIoError(errno ? errno : EIO);
}

void ReadBytes(std::FILE* file, void* bytes, std::size_t count) {
    if (count > 0 && std::fread(bytes, 1, count, file) != count)
        RaiseShortRead(file);
}

bool AtEnd(std::FILE* file) {
    int c = std::getc(file);
    if (c == EOF) {
        if (std::ferror(file))
            RaiseIoError(errno ? errno : EIO);
        return true;
    }
    std::ungetc(c, file);
    return false;
}

// The rows of the list by upper-cased path, each in list order, so that restoring a large
// file needs one lookup per record instead of a pass over the list.
using TPathIndex = std::unordered_map<std::string, std::vector<std::size_t>>;

TPathIndex IndexByPath(const TFavoriteList& list) {
    TPathIndex index;
    for (std::size_t i = 0; i < list.Count(); ++i)
        index[UpperAscii(list[i].Datei)].push_back(i);
    return index;
}

void Restore(TFavoriteList& list, const TPathIndex& index, const std::string& status,
             const std::string& path) {
    auto found = index.find(UpperAscii(path));
    if (found == index.end())
        return;
    for (std::size_t row : found->second)
        if (list[row].Datum == rowtext::kUnchecked)
            list.SetDatum(row, status);
}

// Closes the file once, reporting the first error of the final flush.
class TFileCloser {
  public:
    explicit TFileCloser(std::FILE* file) : file_(file) {}
    ~TFileCloser() {
        if (file_)
            std::fclose(file_);
    }
    TFileCloser(const TFileCloser&) = delete;
    TFileCloser& operator=(const TFileCloser&) = delete;
    void Close() {
        std::FILE* file = file_;
        file_ = nullptr;
        if (std::fclose(file) != 0)
            RaiseIoError(errno);
    }

  private:
    std::FILE* file_;
};

// Makes the rename itself survive a crash of the system; a failure here loses nothing.
void SyncFolder(const std::string& fileName) {
    int dir = ::open(sys::FolderOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// The new file is created beside the old one, so that the final rename stays in one file
// system. Its name is unique to the process and the call, so that two programs saving at
// once cannot write into each other's file. Null with errno set when none can be made.
std::FILE* CreateNewFile(const std::string& fileName, std::string& newName) {
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        newName = fileName + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        int fd = ::open(newName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return nullptr;
        if (std::FILE* file = ::fdopen(fd, "wb"))
            return file;
        int error = errno;
        ::close(fd);
        ::unlink(newName.c_str());
        errno = error;
        return nullptr;
    }
    errno = EEXIST;
    return nullptr;
}

// The folder takes no new file, or no rename over the old one.
bool FolderRefusesWrites(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

[[noreturn]] void RaiseCannotSave(const std::string& fileName, const std::string& reason) {
    throw EResultFileError(
        "Die Ergebnisdatei " + fileName + " kann nicht gespeichert werden: " + reason, fileName,
        reason);
}

[[noreturn]] void RaiseCannotSave(const std::string& fileName, int error) {
    RaiseCannotSave(fileName, IoErrorText(error));
}

std::string ReadLink(const std::string& link) {
    std::string target(PATH_MAX, '\0');
    ssize_t got = ::readlink(link.c_str(), target.data(), target.size());
    if (got < 0)
        RaiseCannotSave(link, errno);
    if (static_cast<std::size_t>(got) == target.size())
        RaiseCannotSave(link, ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(got));
    return target;
}

// The file a name stands for: links followed to their end, a dangling one too (the save
// creates its target). A save through a link writes the target and keeps the link.
std::string FinalTarget(const std::string& fileName) {
    constexpr int MaxLinks = 40;  // as many as the system follows itself
    std::string path = fileName;
    for (int hop = 0; hop < MaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target = ReadLink(path);
        path = target.starts_with('/') ? target : sys::FolderOf(path) + "/" + target;
    }
    RaiseCannotSave(fileName, ELOOP);
}

// Only a plain file (or none yet) is ever replaced or written: a rename over a device or a
// FIFO would replace it in its folder (as root even /dev/null), and writing into one loses
// the records, blocks without a reader, or, for a disk, destroys what is on it.
void RequirePlainOrMissing(const std::string& fileName, const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        RaiseCannotSave(fileName, S_ISDIR(st.st_mode) ? "Sie ist ein Ordner, keine Datei"
                                                      : "Sie ist keine gewöhnliche Datei");
}

void WriteRecords(std::FILE* file, const TFavoriteList& list) {
    for (const TFavoriteRow& row : list.Rows()) {
        if (row.Datum == rowtext::kUnchecked)
            continue;
        WriteStr(file, row.Datum);
        WriteStr(file, row.Datei);
    }
}

std::size_t RecordsSize(const TFavoriteList& list) {
    std::size_t size = 0;
    for (const TFavoriteRow& row : list.Rows())
        if (row.Datum != rowtext::kUnchecked)
            size += 8 + row.Datum.size() + row.Datei.size();
    return size;
}

void SyncAndClose(TFileCloser& closer, std::FILE* file) {
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0)
        RaiseIoError(errno);
    closer.Close();
}

// A new file renamed over the old one: the old file stays whole until the new one is. False,
// with nothing changed and the reason in refused, when the folder takes no new file.
bool SaveByRename(const TFavoriteList& list, const std::string& fileName, int& refused) {
    std::string newName;
    std::FILE* file = CreateNewFile(fileName, newName);
    if (!file) {
        if (!FolderRefusesWrites(errno))
            RaiseCannotSave(fileName, errno);
        refused = errno;
        return false;
    }
    try {
        TFileCloser closer(file);
        WriteRecords(file, list);
        SyncAndClose(closer, file);
        if (::rename(newName.c_str(), fileName.c_str()) != 0) {
            refused = errno;
            if (!FolderRefusesWrites(refused))
                RaiseIoError(refused);
            ::unlink(newName.c_str());
            return false;
        }
    } catch (...) {
        ::unlink(newName.c_str());
        throw;
    }
    SyncFolder(fileName);
    return true;
}

// A folder that takes no new file but holds a writable result file (an installed program, a
// shared folder): the file is written over. The room for the new content is reserved first,
// so that a full disk fails before the old content is touched; the file counts as saved only
// once it is cut to its length and synced.
void SaveInPlace(const TFavoriteList& list, const std::string& fileName) {
    // Neither followed nor waited for: what stands there now must still be the plain file.
    int fd = ::open(fileName.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        RaiseCannotSave(fileName, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        RaiseCannotSave(fileName, "Sie ist keine gewöhnliche Datei");
    }
    const auto size = static_cast<off_t>(RecordsSize(list));
    int reserved = size > 0 ? ::posix_fallocate(fd, 0, size) : 0;
    std::FILE* file = reserved == 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!file) {
        int error = reserved ? reserved : errno;
        ::close(fd);
        RaiseIoError(error);
    }
    TFileCloser closer(file);
    WriteRecords(file, list);
    if (std::fflush(file) != 0 || ::ftruncate(fd, size) != 0)
        RaiseIoError(errno);
    SyncAndClose(closer, file);
}

}  // namespace

void WriteStr(std::FILE* file, const std::string& text) {
    if (text.size() > INT32_MAX)
        throw EResultFileError(IoErrorText(EFBIG));
    auto length = static_cast<std::uint32_t>(text.size());
    unsigned char prefix[4] = {
        static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    WriteBytes(file, prefix, sizeof prefix);
    WriteBytes(file, text.data(), text.size());
}

std::string ReadStr(std::FILE* file) {
    unsigned char prefix[4];
    ReadBytes(file, prefix, sizeof prefix);
    auto length = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(prefix[0]) | static_cast<std::uint32_t>(prefix[1]) << 8 |
        static_cast<std::uint32_t>(prefix[2]) << 16 | static_cast<std::uint32_t>(prefix[3]) << 24);
    if (length < 0)
        throw EResultFileError(NegativeLengthText);
    // Grow step by step with what arrives: a hostile length fails at the real end of the
    // file instead of asking for gigabytes first.
    std::string text;
    auto wanted = static_cast<std::size_t>(length);
    while (text.size() < wanted) {
        std::size_t have = text.size();
        std::size_t step = std::min(wanted - have, ReadStep);
        text.resize(have + step);
        ReadBytes(file, text.data() + have, step);
    }
    return text;
}

void RequirePlainResultFile(const std::string& fileName) {
    RequirePlainOrMissing(fileName, FinalTarget(fileName));
}

void SaveURLs(const TFavoriteList& list, const std::string& fileName) {
    const std::string target = FinalTarget(fileName);
    RequirePlainOrMissing(fileName, target);
    int refused = 0;
    if (SaveByRename(list, target, refused))
        return;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0)
        RaiseCannotSave(target, refused);
    SaveInPlace(list, target);
}

void OpenURLs(TFavoriteList& list, const std::string& fileName) {
    // Not waited for: a FIFO without a writer would block the start for ever.
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat st {};
    std::FILE* file = nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(file = ::fdopen(fd, "rb"))) {
        ::close(fd);
        return;  // holds no records; the save refuses it with a word
    }
    TFileCloser closer(file);
    const TPathIndex index = IndexByPath(list);
    while (!AtEnd(file)) {
        std::string status = ReadStr(file);
        std::string path = ReadStr(file);
        Restore(list, index, status, path);
    }
}
