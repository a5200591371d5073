#include "Trash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Creates the folder and any missing parents with mode 0700. Without the data home, the
// trash of Qt 6.4 reports success yet drops the file into files/ below the current folder.
bool MakePrivateFolders(const fs::path& folder) {
    fs::path prefix;
    for (const fs::path& part : folder) {
        prefix /= part;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

fs::path InfoFileOf(const fs::path& trashed) {
    return trashed.parent_path().parent_path() / "info" /
           (trashed.filename().string() + ".trashinfo");
}

// Undoes a move that ended outside a trash, so the file is back under its own name.
void PutBack(const fs::path& trashed, const fs::path& original) {
    std::error_code ec;
    if (!fs::exists(original, ec))
        fs::rename(trashed, original, ec);
    if (ec || trashed.parent_path().filename() != "files")
        return;
    fs::remove(InfoFileOf(trashed), ec);
    // The folders made for the stray move go too, but only while they are empty.
    fs::remove(trashed.parent_path(), ec);
    fs::remove(InfoFileOf(trashed).parent_path(), ec);
}

}  // namespace

bool LiesInTrash(const std::string& trashedPath, const std::string& dataHome, unsigned uid) {
    fs::path trashed(trashedPath);
    if (trashed.parent_path().filename() != "files")
        return false;
    fs::path trash = trashed.parent_path().parent_path();
    std::string name = trash.filename().string();
    std::string uidText = std::to_string(uid);
    std::error_code ec;
    bool homeTrash = !dataHome.empty() && fs::equivalent(trash, fs::path(dataHome) / "Trash", ec);
    bool volumeTrash = name == ".Trash-" + uidText ||
                       (name == uidText && trash.parent_path().filename() == ".Trash");
    return (homeTrash || volumeTrash) && fs::is_regular_file(InfoFileOf(trashed), ec);
}

bool TFreedesktopTrash::DeleteURLFile(const std::string& path) {
    QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !MakePrivateFolders(QFile::encodeName(dataHome).toStdString()))
        return false;
    QString trashed;
    if (!QFile::moveToTrash(QFile::decodeName(QByteArray::fromStdString(path)), &trashed))
        return false;
    std::string trashedPath = QFile::encodeName(trashed).toStdString();
    if (LiesInTrash(trashedPath, QFile::encodeName(dataHome).toStdString(), ::getuid()))
        return true;
    PutBack(trashedPath, path);
    return false;
}
