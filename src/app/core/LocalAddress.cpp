#include "LocalAddress.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

bool JudgeWithoutRequest(const std::string& url, TRowOutcome& outcome) {
    switch (KindOfAddress(url)) {
        case TAddressKind::Web:
            return false;
        case TAddressKind::NotWeb:
            JudgeNotWeb(url, outcome);
            return true;
        case TAddressKind::LocalFile:
            break;
    }
    const std::string path = FilePathOf(url);
    struct stat st {};
    const bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
    JudgeLocalFile(path, exists,
                   exists ? std::string() : std::strerror(path.empty() ? ENOENT : errno), outcome);
    outcome.report.FinalUrl = url;
    return true;
}
