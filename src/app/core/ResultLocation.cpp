#include "ResultLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ResultFile.h"
#include "sys/UserFolders.h"

namespace {

// Makes the folder and missing parents, private to the user. A failure is left to the save,
// which reports it with the file's name.
void MakePrivateFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1))
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
}

}  // namespace

std::string UserDataFolder() {
    return sys::DataHome() + "/quorvane/";
}

std::string ResultFilePath(const std::string& programDir) {
    const std::string beside = programDir + ResultFileName;
    if (::access(programDir.c_str(), W_OK) == 0 || ::access(beside.c_str(), W_OK) == 0)
        return beside;
    const std::string folder = UserDataFolder();
    MakePrivateFolders(folder);
    return folder + ResultFileName;
}
