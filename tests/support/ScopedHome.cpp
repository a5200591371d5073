#include "ScopedHome.h"

#include <cstdlib>

namespace testsupport {

namespace {

std::optional<std::string> Get(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& value) {
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

}  // namespace

ScopedHome::ScopedHome()
    : oldHome_(Get("HOME")),
      oldDataHome_(Get("XDG_DATA_HOME")),
      oldCwd_(std::filesystem::current_path()) {
    std::filesystem::create_directories(Home());
    std::filesystem::create_directories(Cwd());
    setenv("HOME", Home().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    std::filesystem::current_path(Cwd());
}

ScopedHome::~ScopedHome() {
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
    Restore("HOME", oldHome_);
    Restore("XDG_DATA_HOME", oldDataHome_);
}

std::filesystem::path ScopedHome::Write(const std::string& relativeToHome,
                                        const std::string& bytes) const {
    return dir_.Write("home/" + relativeToHome, bytes);
}

}  // namespace testsupport
