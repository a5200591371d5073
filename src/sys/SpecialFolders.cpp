#include "SpecialFolders.h"

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

std::string DataHome() {
    return EnvOr("XDG_DATA_HOME", HomeDirectory() + "/.local/share");
}

std::string ConfigHome() {
    return EnvOr("XDG_CONFIG_HOME", HomeDirectory() + "/.config");
}

std::string CacheHome() {
    return EnvOr("XDG_CACHE_HOME", HomeDirectory() + "/.cache");
}

// One entry of user-dirs.dirs: KEY="$HOME/Folder" or KEY="/absolute/folder".
std::optional<std::string> UserDirFromFile(const std::string& key) {
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::string line;
    const std::string prefix = key + "=\"";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string value = line.substr(prefix.size());
        auto quote = value.find('"');
        if (quote == std::string::npos)
            return std::nullopt;
        value.resize(quote);
        if (value.compare(0, 5, "$HOME") == 0)
            return HomeDirectory() + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
        return std::nullopt;
    }
    return std::nullopt;
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
