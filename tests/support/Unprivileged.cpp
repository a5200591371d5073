#include "Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int kCannotDrop = 125;

bool DropPrivileges() {
    if (geteuid() != 0)
        return true;
    const id_t nobody = 65534;
    return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
}

}  // namespace

int RunUnprivileged(const std::function<int()>& body) {
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(DropPrivileges() ? body() & 0xFF : kCannotDrop);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    int code = WEXITSTATUS(status);
    return code == kCannotDrop ? -1 : code;
}

}  // namespace testsupport
