// Points HOME at a fresh temporary folder (with XDG_DATA_HOME unset) and the current folder
// at another one, for tests of code that writes below the user's home; restores all three.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"

namespace testsupport {

class ScopedHome {
  public:
    ScopedHome();
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    std::filesystem::path Home() const { return dir_.Path() / "home"; }
    // The current folder meanwhile: stray files written "here" land in it.
    std::filesystem::path Cwd() const { return dir_.Path() / "cwd"; }
    std::filesystem::path Write(const std::string& relativeToHome, const std::string& bytes) const;

  private:
    TempDir dir_;
    std::optional<std::string> oldHome_;
    std::optional<std::string> oldDataHome_;
    std::filesystem::path oldCwd_;
};

}  // namespace testsupport
