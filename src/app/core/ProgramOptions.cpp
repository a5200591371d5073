#include "ProgramOptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

struct TOptionEntry {
    const char* Name;   // "--favorites"
    const char* Value;  // "ORDNER"; nullptr for a switch
    unsigned Programs;  // TProgramKind bits
    const char* Help;
    void (*Apply)(TProgramOptions& options, const std::string& value);
};

constexpr unsigned kBoth = kWindowProgram | kCheckProgram;

// A whole number from low to high, or EBadOption naming the option.
int Number(const char* name, const std::string& value, int low, int high) {
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number < low || number > high)
        throw EBadOption(std::string("die Option ") + name + " braucht eine Zahl von " +
                         std::to_string(low) + " bis " + std::to_string(high) + ", nicht „" +
                         value + "“");
    return number;
}

const TOptionEntry kOptions[] = {
    {"--favorites", "ORDNER", kBoth, "diesen Favoritenordner lesen statt ~/Favorites",
     [](TProgramOptions& o, const std::string& v) { o.FavoritesFolder = v; }},
    {"--bookmarks", "DATEI", kBoth,
     "diese Lesezeichendatei lesen (Firefox-places.sqlite, Chromium-Bookmarks oder HTML-Export; "
     "mehrfach möglich) statt der Profile der Browser",
     [](TProgramOptions& o, const std::string& v) { o.BookmarkFiles.push_back(v); }},
    {"--results", "DATEI", kCheckProgram,
     "die Ergebnisse aus DATEI lesen und dorthin schreiben statt in urls.dat",
     [](TProgramOptions& o, const std::string& v) { o.ResultFile = v; }},
    {"--jobs", "N", kBoth,
     "N Favoriten zugleich prüfen, 1 bis 64 (Fenster: 1, quorvane-check: 8), höchstens zwei je "
     "Server",
     [](TProgramOptions& o, const std::string& v) { o.Jobs = Number("--jobs", v, 1, 256); }},
    {"--timeout", "SEKUNDEN", kBoth, "so lange auf eine Antwort warten (Vorgabe: 30)",
     [](TProgramOptions& o, const std::string& v) {
         o.TimeoutSeconds = Number("--timeout", v, 1, 3600);
     }},
    {"--quiet", nullptr, kCheckProgram, "nur die FAILED-Liste und die Zusammenfassung ausgeben",
     [](TProgramOptions& o, const std::string&) { o.Quiet = true; }},
    {"--help", nullptr, kBoth, "diese Hilfe zeigen",
     [](TProgramOptions& o, const std::string&) { o.Help = true; }},
    {"--version", nullptr, kBoth, "die Version zeigen",
     [](TProgramOptions& o, const std::string&) { o.Version = true; }},
};

const TOptionEntry* Find(TProgramKind program, const std::string& name) {
    for (const TOptionEntry& entry : kOptions)
        if ((entry.Programs & program) && name == entry.Name)
            return &entry;
    return nullptr;
}

// Takes one option (and its value) from args at i; i moves past what was taken.
void TakeOption(TProgramKind program, const std::vector<std::string>& args, std::size_t& i,
                TProgramOptions& options) {
    const std::string& arg = args[i++];
    const std::size_t equals = arg.find('=');
    const std::string name = arg == "-h" ? "--help" : arg.substr(0, equals);
    const TOptionEntry* entry =
        arg.starts_with("--") || arg == "-h" ? Find(program, name) : nullptr;
    if (!entry)
        throw EBadOption("unbekannte Option „" + arg + "“");
    if (!entry->Value) {
        if (equals != std::string::npos)
            throw EBadOption("die Option " + name + " nimmt keinen Wert");
        entry->Apply(options, {});
        return;
    }
    std::string value;
    if (equals != std::string::npos)
        value = arg.substr(equals + 1);
    else if (i < args.size())
        value = args[i++];
    if (value.empty())
        throw EBadOption("die Option " + name + " braucht einen Wert (" + entry->Value + ")");
    entry->Apply(options, value);
}

}  // namespace

int JobsOf(const TProgramOptions& options, TProgramKind program) {
    if (options.Jobs > 0)
        return options.Jobs;
    return program == kCheckProgram ? 8 : 8;  // quorvane-check's default follows
}

TProgramOptions ParseOptions(TProgramKind program, const std::vector<std::string>& args) {
    TProgramOptions options;
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--") {
            if (i + 1 < args.size())
                throw EBadOption("unerwartetes Argument „" + args[i + 1] + "“");
            break;
        }
        if (!args[i].starts_with("-"))
            throw EBadOption("unerwartetes Argument „" + args[i] + "“");
        TakeOption(program, args, i, options);
    }
    return options;
}

namespace {

std::string OptionLines(TProgramKind program) {
    std::string lines;
    for (const TOptionEntry& entry : kOptions) {
        if (!(entry.Programs & program))
            continue;
        std::string left = std::string("  ") + entry.Name + (entry.Value ? " " : "") +
                           (entry.Value ? entry.Value : "");
        left.resize(std::max<std::size_t>(left.size() + 2, 22), ' ');
        lines += left + entry.Help + "\n";
    }
    return lines;
}

}  // namespace

std::string Usage(TProgramKind program) {
    if (program == kWindowProgram)
        return "Aufruf: quorvane [OPTION]...\n"
               "Zeigt die Favoriten zum Prüfen, Besuchen und Löschen.\n\n" +
               OptionLines(program);
    return "Aufruf: quorvane-check [OPTION]...\n"
           "Prüft jede Internet-Verknüpfung (*.url) des Favoritenordners und die Lesezeichen der\n"
           "Browser mit HTTP HEAD, schreibt das Protokoll auf die Standardausgabe, am Ende die\n"
           "FAILED-Einträge mit ihren Dateien und die Zusammenfassung, und speichert die\n"
           "Ergebnisse in urls.dat (neben dem Programm, sonst in $XDG_DATA_HOME/quorvane/).\n\n" +
           OptionLines(program) +
           "\nRückgabewerte:\n"
           "  0    kein Favorit ist FAILED\n"
           "  2    mindestens ein Favorit ist FAILED\n"
           "  1    die Prüfung konnte nicht laufen oder ihre Ergebnisse nicht speichern\n"
           "  130  mit Strg+C abgebrochen (143 nach SIGTERM); die Ergebnisse bis dahin sind "
           "gespeichert\n";
}
