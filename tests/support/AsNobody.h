// Permission tests while the tests run as root: the code under test runs in a forked child
// that has given up root for the user and group nobody (65534), so that a read-only folder
// means what it says.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

inline constexpr unsigned kNobody = 65534;

// Runs fn as nobody in a forked child and returns the text it returned; "child died: ..."
// when it did not return (a crash, say). Only async-signal-safe state is shared, so fn should
// do its work and return a text for the test to compare.
std::string RunAsNobody(const std::function<std::string()>& fn);

// Runs fn in a forked child as it is (root), for work that must not touch the test process:
// a mount in a namespace of its own, say.
std::string RunInChild(const std::function<std::string()>& fn);

// Hands a file or folder to nobody.
void GiveToNobody(const std::filesystem::path& path);

}  // namespace testsupport
