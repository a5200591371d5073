// Sets an environment variable for the life of the object and restores the old value after.
#pragma once

#include <optional>
#include <string>

namespace testsupport {

class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
