// quorvane-check over 1,000 and 10,000 favourites against a fast loopback server, beside curl
// sending HEAD requests for the same addresses from one process. Prints the wall and the
// processor times of both and their ratios; quorvane-check should not be the slower one.
// quorvane-check's times include its scan of the Favorites folder and the result file.
//
// Usage: bench_check [path of quorvane-check]   (default: the one built beside this program)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "FastServer.h"

namespace fs = std::filesystem;

namespace {

using benchsupport::TFastServer;
using benchsupport::TTimes;

// Every request gets this at once, and the close.
constexpr const char* kAnswer =
    "HTTP/1.0 200 OK\r\nServer: bench\r\n"
    "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\nContent-Length: 0\r\n\r\n";

std::string Address(int port, int i) {
    return "http://127.0.0.1:" + std::to_string(port) + "/page" + std::to_string(i) + ".html";
}

// A home folder with count shortcuts in a few subfolders, and a copy of quorvane-check, so
// that its result file lands in the scratch folder too.
struct TScratch {
    fs::path root;
    fs::path home;
    fs::path program;

    TScratch(const fs::path& checkProgram, int port, int count) {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        home = root / "home";
        for (int i = 0; i < count; ++i) {
            fs::path folder = home / "Favorites" / ("Ordner" + std::to_string(i % 10));
            fs::create_directories(folder);
            std::ofstream(folder / ("Seite " + std::to_string(i) + ".url"))
                << "[DEFAULT]\r\nBASEURL=" << Address(port, i)
                << "\r\n[InternetShortcut]\r\nURL=" << Address(port, i) << "\r\n";
        }
        program = root / "bin" / "quorvane-check";
        fs::create_directories(program.parent_path());
        fs::copy_file(checkProgram, program);
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

// Runs a program with its output thrown away; returns its wall and processor time.
TTimes TimeRun(const std::vector<std::string>& argv, const fs::path& home) {
    return benchsupport::TimeChild(argv, home, 0, argv[0] + " failed");
}

// One curl process, HEAD requests for every address in turn, no connection reuse (HTTP/1.0).
TTimes TimeCurl(const TScratch& scratch, int port, int count) {
    fs::path config = scratch.root / "curl.cfg";
    {
        std::ofstream out(config);
        out << "silent\nhead\nhttp1.0\nfail\n";
        for (int i = 0; i < count; ++i)
            out << "url = \"" << Address(port, i) << "\"\noutput = \"/dev/null\"\n";
    }
    return TimeRun({"curl", "--config", config.string()}, scratch.home);
}

}  // namespace

int main(int argc, char** argv) {
    fs::path checkProgram = argc > 1 ? fs::path(argv[1])
                                     : fs::canonical("/proc/self/exe").parent_path().parent_path() /
                                           "src" / "app" / "quorvane-check";
    if (!fs::exists(checkProgram)) {
        std::fprintf(stderr, "quorvane-check not found at %s\n", checkProgram.c_str());
        return 1;
    }
    TFastServer server(kAnswer);
    std::printf("%-6s | %-27s | %-27s\n", "", "wall time", "processor time (user+sys)");
    std::printf("%-6s | %8s %8s %9s | %8s %8s %9s\n", "rows", "quorv. s", "curl s", "q/c",
                "quorv. s", "curl s", "q/c");
    for (int count : {1000, 10000}) {
        TScratch scratch(checkProgram, server.Port(), count);
        TTimes quorvane = TimeRun({scratch.program.string()}, scratch.home);
        TTimes curl = TimeCurl(scratch, server.Port(), count);
        std::printf("%-6d | %8.3f %8.3f %9.2f | %8.3f %8.3f %9.2f\n", count, quorvane.wall,
                    curl.wall, quorvane.wall / curl.wall, quorvane.cpu, curl.cpu,
                    quorvane.cpu / curl.cpu);
    }
    std::printf("requests served: %ld\n", server.Served());
    return 0;
}
