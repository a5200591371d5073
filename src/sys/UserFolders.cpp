#include "UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace sys {

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value == '/' ? std::string(value) : fallback;
}

std::string ConfigHome() {
    return EnvOr("XDG_CONFIG_HOME", HomeDirectory() + "/.config");
}

std::string CacheHome() {
    return EnvOr("XDG_CACHE_HOME", HomeDirectory() + "/.cache");
}

// The text between the first and the last double quote of a line KEY="...", blanks before
// the key allowed; nothing for a line of another key.
std::optional<std::string> QuotedValue(const std::string& line, const std::string& key) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, key.size() + 2, key + "=\"") != 0)
        return std::nullopt;
    std::size_t open = at + key.size() + 1, close = line.rfind('"');
    if (close == open)
        return std::nullopt;
    return line.substr(open + 1, close - open - 1);
}

// The value as the shell reads it: a backslash keeps the character after it as it is.
std::string Unescaped(const std::string& raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size())
            ++i;
        text += raw[i];
    }
    return text;
}

// The folder of one entry of user-dirs.dirs: KEY="$HOME/Folder" or KEY="/absolute/folder",
// with the shell's escapes. Any other form is not a folder, and the line is passed over; of
// several lines for a key the last counts, as when the shell reads the file.
std::optional<std::string> UserDirFromFile(const std::string& key) {
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::optional<std::string> folder;
    for (std::string line; std::getline(in, line);) {
        auto raw = QuotedValue(line, key);
        if (!raw)
            continue;
        if (raw->compare(0, 5, "$HOME") == 0 && (raw->size() == 5 || (*raw)[5] == '/'))
            folder = HomeDirectory() + Unescaped(raw->substr(5));
        else if (!raw->empty() && (*raw)[0] == '/')
            folder = Unescaped(*raw);
    }
    return folder;
}

std::string UserDir(const std::string& key, const std::string& fallbackName) {
    auto fromFile = UserDirFromFile(key);
    return fromFile ? *fromFile : HomeDirectory() + "/" + fallbackName;
}

// Empty text: the folder id has no file-system folder on this system.
std::string CandidatePath(int folderId) {
    switch (folderId) {
        case kFolderFavorites:
            return HomeDirectory() + "/Favorites";
        case kFolderPersonal:
            return UserDir("XDG_DOCUMENTS_DIR", "Documents");
        case kFolderDesktopdirectory:
            return UserDir("XDG_DESKTOP_DIR", "Desktop");
        case kFolderTemplates:
            return UserDir("XDG_TEMPLATES_DIR", "Templates");
        case kFolderBitbucket:
            return DataHome() + "/Trash/files";
        case kFolderPrograms:
            return DataHome() + "/applications";
        case kFolderFonts:
            return DataHome() + "/fonts";
        case kFolderStartup:
            return ConfigHome() + "/autostart";
        case kFolderAppdata:
            return ConfigHome();
        case kFolderInternetCache:
            return CacheHome();
        case kFolderCommonStartmenu:
            return "/usr/share/applications";
        case kFolderCommonStartup:
            return "/etc/xdg/autostart";
        default:
            return {};
    }
}

}  // namespace

std::string DataHome() {
    return EnvOr("XDG_DATA_HOME", HomeDirectory() + "/.local/share");
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return "/";
}

std::optional<std::string> SpecialFolderPath(int folderId) {
    std::string path = CandidatePath(folderId);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return path;
}

}  // namespace sys
