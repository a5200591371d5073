// The window as a user runs it, ended by the signals of a session's end (SIGTERM at log-out or
// from kill, SIGHUP when its terminal goes, SIGINT for Ctrl+C there): it closes as its close box
// would and writes the result file, which the default action of those signals would not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"

namespace {

namespace fs = std::filesystem;

// Blocks until the file has been read and closed by another process, within a bound.
class TReadWatch {
  public:
    explicit TReadWatch(const fs::path& file) : fd_(::inotify_init1(IN_CLOEXEC)) {
        ::inotify_add_watch(fd_, file.c_str(), IN_CLOSE_NOWRITE);
    }
    ~TReadWatch() { ::close(fd_); }
    bool Wait(int boundMs) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, boundMs) == 1;
    }

  private:
    int fd_;
};

}  // namespace

TEST(WindowSignals, EachSignalOfASessionsEndClosesTheWindowAndWritesTheResults) {
    const std::pair<int, const char*> signals[] = {
        {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}};
    for (const auto& [signal, name] : signals) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        const fs::path program = dir.Path() / "bin/quorvane";
        const fs::path resultFile = dir.Path() / "bin" / ResultFileName;
        fs::create_directories(program.parent_path());
        fs::copy_file(QV_WINDOW_PROGRAM, program);
        const std::string shortcut =
            dir.Write("home/Favorites/a.url", "[DEFAULT]\nBASEURL=http://a.invalid/\n").string();
        // A record for a shortcut that is gone: a save of the window's list leaves it out.
        testsupport::StoreResults({shortcut, (dir.Path() / "gone.url").string()}, "OK",
                                  resultFile.string());

        TReadWatch startedUp(resultFile);  // the window reads the file once it can take signals
        testsupport::TProgramRun run;
        run.program = program.string();
        run.env = {{"HOME", (dir.Path() / "home").string()}, {"QT_QPA_PLATFORM", "offscreen"}};
        run.started = [&, signal = signal](pid_t pid) {
            ASSERT_TRUE(startedUp.Wait(60000)) << "the window never read its result file";
            ::kill(pid, signal);
        };
        testsupport::TProgramOutcome outcome = testsupport::RunProgram(run);

        EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
        TFavoriteList list;
        list.Append(TFavoriteRow{"", "", "???", "", (dir.Path() / "gone.url").string(), 0});
        list.Append(TFavoriteRow{"", "", "???", "", shortcut, 0});
        OpenURLs(list, resultFile.string());
        EXPECT_EQ(list[0].Datum, "???") << "the file was written anew from the window's list";
        EXPECT_EQ(list[1].Datum, "OK");
    }
}

TEST(WindowOptions, HelpAndABadOptionEndTheProgramBeforeAWindowOpens) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string line;  // of standard output, or of standard error after a bad option
    } cases[] = {
        {{"--help"}, 0, "Aufruf: quorvane [OPTION]..."},
        {{"--version"}, 0, "quorvane 1.0"},
        {{"-V"}, 0, "quorvane 1.0"},
        {{"--results", "x"}, 1, "quorvane: unbekannte Option „--results“; mehr mit --help"},
        {{"--favorites"},
         1,
         "quorvane: die Option --favorites braucht einen Wert (ORDNER); mehr mit --help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        testsupport::TProgramRun run;
        run.program = QV_WINDOW_PROGRAM;
        run.args = c.args;
        run.env = {{"QT_QPA_PLATFORM", "offscreen"}};
        testsupport::TProgramOutcome outcome = testsupport::RunProgram(run);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        // Qt may say something of its own on standard error first.
        const std::vector<std::string> lines =
            c.exitCode == 0 ? outcome.lines : testsupport::SplitLines(outcome.errors);
        EXPECT_THAT(lines, testing::Contains(c.line));
    }
}
