// A folder under the system's temporary folder that is removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes a file below the folder, making the folders on the way.
    std::filesystem::path Write(const std::string& relative, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& file);

}  // namespace testsupport
