// Runs part of a test in a child process as a user without privileges, so that permission
// cases test what they claim even when the tests run as root.
#pragma once

#include <functional>

namespace testsupport {

// The exit code (0 to 255) of body, run in a forked child; when the tests run as root, the
// child first becomes the user and group 65534 ("nobody"). -1 when the child could not be
// made, could not drop its privileges or ended by a signal. Folders the child must reach
// need permissions for others.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace testsupport
