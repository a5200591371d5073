#include "app/core/ResultFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string Le32(std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::string Str(const std::string& text) {
    return Le32(static_cast<std::int32_t>(text.size())) + text;
}

std::string Record(const std::string& status, const std::string& path) {
    return Str(status) + Str(path);
}

TFavoriteList ListOf(const std::vector<std::pair<std::string, std::string>>& rows) {
    TFavoriteList list;
    for (const auto& [datum, datei] : rows) {
        TFavoriteRow row;
        row.Datum = datum;
        row.Datei = datei;
        list.Append(row);
    }
    return list;
}

std::vector<std::string> Statuses(const TFavoriteList& list) {
    std::vector<std::string> statuses;
    for (const auto& row : list.Rows())
        statuses.push_back(row.Datum);
    return statuses;
}

long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Restores into fresh "???" rows for the given paths; returns the error text, if any.
std::string Restore(TFavoriteList& list, const fs::path& file) {
    try {
        OpenURLs(list, file.string());
    } catch (const EResultFileError& e) {
        return e.what();
    }
    return {};
}

const std::string Cut = "Versuch hinter dem Dateiende zu lesen";
const std::string Date = "2002/10/09; 10:10:10 GMT";

struct Case {
    const char* name;
    // The file is either what SaveURLs writes for these rows (Datum, Datei) ...
    std::vector<std::pair<std::string, std::string>> saved;
    // ... or these bytes, when saved is empty.
    std::string bytes;
    std::optional<std::string> expectedBytes;
    // The paths of the rows restored into, and their statuses afterwards.
    std::vector<std::string> paths;
    std::vector<std::string> restored;
    std::string error;
};

const Case Cases[] = {
    {"the byte layout of one record",
     {{"OK", "D:\\F\\a.url"}},
     {},
     std::string("\x02\x00\x00\x00OK\x0A\x00\x00\x00", 10) + "D:\\F\\a.url",
     {"D:\\F\\a.url"},
     {"OK"},
     ""},
    {"round trip of OK, FAILED and a date text; unchecked rows are not stored",
     {{"OK", "/f/a.url"}, {"???", "/f/b.url"}, {"FAILED", "/f/c.url"}, {Date, "/f/Reisen/d.url"}},
     {},
     Record("OK", "/f/a.url") + Record("FAILED", "/f/c.url") + Record(Date, "/f/Reisen/d.url"),
     {"/f/a.url", "/f/b.url", "/f/c.url", "/f/Reisen/d.url"},
     {"OK", "???", "FAILED", Date},
     ""},
    {"only unchecked rows give an empty file that restores nothing",
     {{"???", "/f/a.url"}, {"???", "/f/b.url"}},
     {},
     "",
     {"/f/a.url", "/f/b.url"},
     {"???", "???"},
     ""},
    {"letter case matters for no letter but a to z",
     {},
     Record("OK", "/FAV/A.URL") + Record("FAILED", "/fav/\xC3\x84.url") +
         Record("OK", "/fav/Ab.url"),
     {},
     {"/fav/a.url", "/fav/\xC3\xA4.url", "/fav/ab.URL", "/fav/Ab.url"},
     {"OK", "???", "OK", "OK"},
     ""},
    {"the first record for a path wins; unknown paths are skipped",
     {},
     Record("FAILED", "/f/a.url") + Record("OK", "/f/gone.url") + Record("OK", "/F/A.URL"),
     {},
     {"/f/a.url"},
     {"FAILED"},
     ""},
    {"an empty status and an empty path are texts like any other",
     {},
     Record("", "/f/a.url") + Record("OK", ""),
     {},
     {"/f/a.url", ""},
     {"", "OK"},
     ""},
    {"a record cut short keeps the records before it",
     {},
     Record("OK", "/f/a.url") + Str("FAILED") + Le32(40) + "/f/b",
     {},
     {"/f/a.url", "/f/b.url"},
     {"OK", "???"},
     Cut},
    {"a length prefix cut short",
     {},
     Record("OK", "/f/a.url") + std::string("\x03\x00", 2),
     {},
     {"/f/a.url"},
     {"OK"},
     Cut},
    {"a negative length",
     {},
     Record("OK", "/f/a.url") + Le32(-5) + "FAILED" + Str("/f/b.url"),
     {},
     {"/f/a.url", "/f/b.url"},
     {"OK", "???"},
     "Ungültige Textlänge in der Ergebnisdatei"},
    {"a length of two billion in a small file",
     {},
     Record("OK", "/f/a.url") + Le32(2000000000) + "FAILED" + Str("/f/b.url"),
     {},
     {"/f/a.url", "/f/b.url"},
     {"OK", "???"},
     Cut},
};

}  // namespace

TEST(ResultFile, SavesAndRestoresAsTheTableSays) {
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        const fs::path file = dir.Path() / ResultFileName;
        if (c.saved.empty())
            dir.Write(ResultFileName, c.bytes);
        else
            SaveURLs(ListOf(c.saved), file.string());
        if (c.expectedBytes) {
            EXPECT_EQ(testsupport::ReadFileBytes(file), *c.expectedBytes);
        }

        std::vector<std::pair<std::string, std::string>> unchecked;
        for (const auto& path : c.paths)
            unchecked.emplace_back("???", path);
        TFavoriteList list = ListOf(unchecked);
        const long peakBefore = PeakMemoryKiB();
        EXPECT_EQ(Restore(list, file), c.error);
        EXPECT_LT(PeakMemoryKiB() - peakBefore, 64 * 1024) << "a length claim was allocated";
        EXPECT_EQ(Statuses(list), c.restored);

        // Whatever was read, the next save replaces the file with a sound one.
        SaveURLs(list, file.string());
        TFavoriteList again = ListOf(unchecked);
        EXPECT_EQ(Restore(again, file), "");
        EXPECT_EQ(Statuses(again), c.restored);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
            << "the new file must replace the old one, leaving nothing beside it";
    }
}

TEST(ResultFile, MissingFileReadsAsNothingButAMissingFolderFailsTheSave) {
    testsupport::TempDir dir;
    TFavoriteList list = ListOf({{"???", "/f/a.url"}});
    EXPECT_NO_THROW(OpenURLs(list, (dir.Path() / ResultFileName).string()));
    EXPECT_EQ(Statuses(list), std::vector<std::string>{"???"});
    const fs::path noFolder = dir.Path() / "missing" / ResultFileName;
    try {
        SaveURLs(ListOf({{"OK", "/f/a.url"}}), noFolder.string());
        ADD_FAILURE() << "a save that wrote nothing must not pass for one that did";
    } catch (const EResultFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Die Ergebnisdatei " + noFolder.string() +
                                             " kann nicht gespeichert werden: Der Ordner "
                                             "existiert nicht");
    }
    EXPECT_FALSE(fs::exists(noFolder.parent_path()));
}

// A write that fails half-way (here the file size limit stands in for a full disk) raises
// the error and leaves the previous file as it was.
TEST(ResultFileDeathTest, FailedWriteLeavesTheOldFileWhole) {
    testsupport::TempDir dir;
    const fs::path file = dir.Path() / ResultFileName;
    const std::string old = Record("OK", "/f/a.url") + Record("FAILED", "/f/b.url");
    dir.Write(ResultFileName, old);

    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 2000; ++i)
        many.emplace_back("OK", "/f/row" + std::to_string(i) + ".url");
    const TFavoriteList list = ListOf(many);
    auto saveUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveURLs(list, file.string());
        } catch (const EResultFileError& e) {
            std::fprintf(stderr, "error: %s\n", e.what());
            std::fflush(stderr);
            _exit(3);
        }
        _exit(0);
    };
    EXPECT_EXIT(saveUnderLimit(), testing::ExitedWithCode(3), "error: Die Datei ist zu groß");
    EXPECT_EQ(testsupport::ReadFileBytes(file), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}
