#include "AsNobody.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testsupport {

namespace {

bool DropToNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
           ::setresuid(kNobody, kNobody, kNobody) == 0;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

namespace {

std::string RunForked(const std::function<std::string()>& fn, bool asNobody) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe for the child");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (asNobody && !DropToNobody())
            _exit(2);
        WriteAll(pipeFds[1], fn());
        _exit(0);
    }
    ::close(pipeFds[1]);
    std::string answer = ReadAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child died: status " + std::to_string(status);
    return answer;
}

}  // namespace

std::string RunAsNobody(const std::function<std::string()>& fn) {
    return RunForked(fn, true);
}

std::string RunInChild(const std::function<std::string()>& fn) {
    return RunForked(fn, false);
}

void GiveToNobody(const std::filesystem::path& path) {
    if (::chown(path.c_str(), kNobody, kNobody) != 0)
        throw std::runtime_error("cannot hand " + path.string() + " to nobody");
}

}  // namespace testsupport
