// Texts of file-system paths.
#pragma once

#include <string>

namespace sys {

// The folder that holds path, without a trailing "/": "/" for an entry of the root, "." for a
// bare name (it lies in the current folder).
inline std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace sys
