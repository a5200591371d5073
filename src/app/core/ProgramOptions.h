// The command-line options of the window (quorvane) and of the headless program
// (quorvane-check): one table for both, so that an option is one entry there, with its names,
// its value, the programs that take it, its line of the usage and how it sets TProgramOptions.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

inline constexpr const char* kProgramVersion = "1.0";

// What quorvane-check writes on standard output: the log (text), or one record per row.
enum class TOutputFormat { Text, Json, Csv };
enum class TColorChoice { Auto, Always, Never };

struct TProgramOptions {
    std::string FavoritesFolder;  // --favorites; empty: the user's Favorites folder
    // --bookmarks, as often as given: bookmark files read instead of the browsers' profiles
    std::vector<std::string> BookmarkFiles;
    std::string ResultFile;   // --results; empty: beside the program or in the data folder
    bool Quiet = false;       // --quiet: only the FAILED list and the summary
    int Jobs = 0;             // --jobs: requests in flight (1 to 256); 0: the program's own
    int TimeoutSeconds = 30;  // --timeout: seconds a request may take
    TOutputFormat Format = TOutputFormat::Text;  // --format
    TColorChoice Color = TColorChoice::Auto;     // --color
    bool NoSave = false;                         // --no-save: the result file is left alone
    // quorvane-check's arguments: addresses checked instead of the favourites; "-" stands for
    // those on standard input.
    std::vector<std::string> Addresses;
    bool Help = false;
    bool Version = false;
};

enum TProgramKind : unsigned { kWindowProgram = 1, kCheckProgram = 2 };

// A command line that the program cannot take; the text says why, in one line.
class EBadOption : public std::runtime_error {
  public:
    explicit EBadOption(const std::string& text) : std::runtime_error(text) {}
};

// Reads the arguments after the program's name. "--name VALUE", "--name=VALUE", "-n VALUE",
// "-nVALUE" and bundled switches ("-qj8") work; "--" ends the options. Raises EBadOption for
// anything the program does not take.
TProgramOptions ParseOptions(TProgramKind program, const std::vector<std::string>& args);

// Requests in flight when --jobs names none: 8 in the window, whose log and list follow the run,
// 128 in quorvane-check, enough that a list with some dead hosts waits about one time-out.
int JobsOf(const TProgramOptions& options, TProgramKind program);

// The one line a program writes on standard error for a command line it cannot take.
std::string BadOptionLine(TProgramKind program, const EBadOption& error);

// The program's usage: the command, what it does, its options and (for quorvane-check) its
// exit codes.
std::string Usage(TProgramKind program);
