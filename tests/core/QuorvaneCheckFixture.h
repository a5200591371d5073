// quorvane-check as a user runs it: a copy of the program (its result file lives beside it),
// a home folder with a Favorites folder, and loopback servers.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "ScriptedServer.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"

namespace fs = std::filesystem;

using TOutcome = testsupport::TProgramOutcome;

class QuorvaneCheckTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path home = dir.Path() / "home";
    fs::path program = dir.Path() / "bin" / "quorvane-check";
    fs::path resultFile = dir.Path() / "bin" / ResultFileName;
    std::atomic<pid_t> pid{0};

    void SetUp() override {
        fs::create_directories(program.parent_path());
        fs::copy_file(QV_CHECK_PROGRAM, program);
    }

    // Shortcuts r1.url .. rN.url in two folders. The scan takes them in the file system's
    // order, so the tests tell rows apart by the paths the server was asked for.
    std::vector<std::string> Shortcuts(const testsupport::ScriptedServer& server, int count) {
        std::vector<std::string> paths;
        for (int i = 1; i <= count; ++i) {
            std::string name = "r" + std::to_string(i);
            std::string file =
                i % 2 ? "Favorites/" + name + ".url" : "Favorites/Sub/" + name + ".url";
            paths.push_back(
                dir.Write("home/" + file, "[DEFAULT]\nBASEURL=" + server.Url("/" + name) + "\n")
                    .string());
        }
        return paths;
    }

    TOutcome Run(std::vector<std::string> args = {}) {
        testsupport::TProgramRun run;
        run.program = program.string();
        // One row after the other, so that the scripted server's answers meet the rows in
        // order (several rows in flight have tests of their own).
        run.args = {"--jobs", "1"};
        run.args.insert(run.args.end(), args.begin(), args.end());
        run.env = {{"HOME", home.string()}};
        run.started = [this](pid_t child) { pid = child; };
        return testsupport::RunProgram(run);
    }

    // A run set up by the test (its arguments as they stand), in the fixture's home.
    TOutcome RunAs(testsupport::TProgramRun run) {
        run.program = program.string();
        run.env.emplace_back("HOME", home.string());
        return testsupport::RunProgram(run);
    }

    // The status the result file gives back to each path.
    std::map<std::string, std::string> Stored(const std::vector<std::string>& paths) {
        return testsupport::StoredStatuses(paths, resultFile.string());
    }

    void StoreEarlierResults(const std::vector<std::string>& paths, const std::string& status) {
        testsupport::StoreResults(paths, status, resultFile.string());
    }
};
