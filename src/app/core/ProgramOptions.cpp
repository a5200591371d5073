#include "ProgramOptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "CheckInterfaces.h"

namespace {

struct TOptionEntry {
    char Short;         // 'j' for "-j"; 0 when there is no short name
    const char* Name;   // "--favorites"
    const char* Value;  // "ORDNER"; nullptr for a switch
    unsigned Programs;  // TProgramKind bits
    const char* Help;   // "{jobs}" stands for the program's default number of jobs
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

// The position of value among the choices, or EBadOption naming the option and the choices.
template <std::size_t N>
std::size_t Choice(const char* name, const std::string& value, const char* const (&choices)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (value == choices[i])
            return i;
    std::string known;
    for (std::size_t i = 0; i < N; ++i)
        known += std::string(i == 0 ? "" : i + 1 == N ? " oder " : ", ") + choices[i];
    throw EBadOption(std::string("die Option ") + name + " kennt „" + value + "“ nicht (" + known +
                     ")");
}

constexpr const char* kFormats[] = {"text", "json", "csv"};
constexpr const char* kColors[] = {"auto", "always", "never"};

const TOptionEntry kOptions[] = {
    {'f', "--favorites", "ORDNER", kBoth, "diesen Favoritenordner lesen statt ~/Favorites",
     [](TProgramOptions& o, const std::string& v) { o.FavoritesFolder = v; }},
    {0, "--bookmarks", "DATEI", kBoth,
     "diese Lesezeichendatei lesen (Firefox-places.sqlite, Chromium-Bookmarks oder HTML-Export; "
     "mehrfach möglich) statt der Profile der Browser",
     [](TProgramOptions& o, const std::string& v) { o.BookmarkFiles.push_back(v); }},
    {0, "--results", "DATEI", kCheckProgram,
     "die Ergebnisse aus DATEI lesen und dorthin schreiben statt in urls.dat",
     [](TProgramOptions& o, const std::string& v) { o.ResultFile = v; }},
    {0, "--no-save", nullptr, kCheckProgram, "die Ergebnisdatei weder lesen noch schreiben",
     [](TProgramOptions& o, const std::string&) { o.NoSave = true; }},
    {'j', "--jobs", "N", kBoth,
     "N Favoriten zugleich prüfen, 1 bis 256 (Vorgabe: {jobs}), höchstens zwei je Server",
     [](TProgramOptions& o, const std::string& v) { o.Jobs = Number("--jobs", v, 1, kMaxJobs); }},
    {'t', "--timeout", "SEKUNDEN", kBoth, "so lange auf eine Antwort warten (Vorgabe: 30)",
     [](TProgramOptions& o, const std::string& v) {
         o.TimeoutSeconds = Number("--timeout", v, 1, 3600);
     }},
    {0, "--format", "FORMAT", kCheckProgram,
     "text (das Protokoll, Vorgabe), json (JSON Lines) oder csv: ein Datensatz je Eintrag",
     [](TProgramOptions& o, const std::string& v) {
         o.Format = static_cast<TOutputFormat>(Choice("--format", v, kFormats));
     }},
    {0, "--color", "WANN", kCheckProgram,
     "auto (Vorgabe: auf einem Terminal, wenn NO_COLOR leer ist), always oder never",
     [](TProgramOptions& o, const std::string& v) {
         o.Color = static_cast<TColorChoice>(Choice("--color", v, kColors));
     }},
    {'q', "--quiet", nullptr, kCheckProgram,
     "nur die FAILED-Liste und die Zusammenfassung ausgeben",
     [](TProgramOptions& o, const std::string&) { o.Quiet = true; }},
    {'h', "--help", nullptr, kBoth, "diese Hilfe zeigen",
     [](TProgramOptions& o, const std::string&) { o.Help = true; }},
    {'V', "--version", nullptr, kBoth, "die Version zeigen",
     [](TProgramOptions& o, const std::string&) { o.Version = true; }},
};

const TOptionEntry* FindLong(TProgramKind program, const std::string& name) {
    for (const TOptionEntry& entry : kOptions)
        if ((entry.Programs & program) && name == entry.Name)
            return &entry;
    return nullptr;
}

const TOptionEntry* FindShort(TProgramKind program, char name) {
    for (const TOptionEntry& entry : kOptions)
        if ((entry.Programs & program) && entry.Short != 0 && name == entry.Short)
            return &entry;
    return nullptr;
}

void ApplyValue(const TOptionEntry& entry, const std::string& given, const std::string& value,
                TProgramOptions& options) {
    if (value.empty())
        throw EBadOption("die Option " + given + " braucht einen Wert (" + entry.Value + ")");
    entry.Apply(options, value);
}

// "--name", "--name=VALUE" or "--name VALUE" from args at i; i moves past what was taken.
void TakeLong(TProgramKind program, const std::vector<std::string>& args, std::size_t& i,
              TProgramOptions& options) {
    const std::string& arg = args[i++];
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const TOptionEntry* entry = FindLong(program, name);
    if (!entry)
        throw EBadOption("unbekannte Option „" + name + "“");
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
    ApplyValue(*entry, name, value, options);
}

// "-q", "-qj8", "-j8" or "-j 8" from args at i; a letter that takes a value takes the rest of
// the word, or the next argument.
void TakeShort(TProgramKind program, const std::vector<std::string>& args, std::size_t& i,
               TProgramOptions& options) {
    const std::string& arg = args[i++];
    for (std::size_t at = 1; at < arg.size(); ++at) {
        const std::string given = std::string("-") + arg[at];
        const TOptionEntry* entry = FindShort(program, arg[at]);
        if (!entry)
            throw EBadOption("unbekannte Option „" + given + "“");
        if (!entry->Value) {
            entry->Apply(options, {});
            continue;
        }
        std::string value = arg.substr(at + 1);
        if (value.empty() && i < args.size())
            value = args[i++];
        ApplyValue(*entry, given, value, options);
        return;
    }
}

void TakeArgument(TProgramKind program, const std::string& arg, TProgramOptions& options) {
    if (program != kCheckProgram)
        throw EBadOption("unerwartetes Argument „" + arg + "“");
    options.Addresses.push_back(arg);
}

}  // namespace

int JobsOf(const TProgramOptions& options, TProgramKind program) {
    if (options.Jobs > 0)
        return options.Jobs;
    return program == kCheckProgram ? 128 : 8;
}

TProgramOptions ParseOptions(TProgramKind program, const std::vector<std::string>& args) {
    TProgramOptions options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size();) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
            TakeArgument(program, arg, options);
            ++i;
        } else if (arg == "--") {
            optionsEnded = true;
            ++i;
        } else if (arg.starts_with("--")) {
            TakeLong(program, args, i, options);
        } else {
            TakeShort(program, args, i, options);
        }
    }
    if (!options.Addresses.empty() &&
        (!options.FavoritesFolder.empty() || !options.BookmarkFiles.empty()))
        throw EBadOption(
            "Adressen als Argumente gehen nicht zusammen mit --favorites oder "
            "--bookmarks");
    return options;
}

std::string BadOptionLine(TProgramKind program, const EBadOption& error) {
    return std::string(program == kCheckProgram ? "quorvane-check: " : "quorvane: ") +
           error.what() + "; mehr mit --help";
}

namespace {

std::string HelpText(const TOptionEntry& entry, TProgramKind program) {
    std::string help = entry.Help;
    if (const std::size_t at = help.find("{jobs}"); at != std::string::npos)
        help.replace(at, 6, std::to_string(JobsOf({}, program)));
    return help;
}

std::string OptionLines(TProgramKind program) {
    std::string lines;
    for (const TOptionEntry& entry : kOptions) {
        if (!(entry.Programs & program))
            continue;
        std::string left = entry.Short ? std::string("  -") + entry.Short + ", " : "      ";
        left +=
            std::string(entry.Name) + (entry.Value ? " " : "") + (entry.Value ? entry.Value : "");
        left.resize(std::max<std::size_t>(left.size() + 2, 26), ' ');
        lines += left + HelpText(entry, program) + "\n";
    }
    return lines;
}

}  // namespace

std::string Usage(TProgramKind program) {
    if (program == kWindowProgram)
        return "Aufruf: quorvane [OPTION]...\n"
               "Zeigt die Favoriten zum Prüfen, Besuchen und Löschen.\n\n" +
               OptionLines(program);
    return "Aufruf: quorvane-check [OPTION]... [ADRESSE]...\n"
           "Prüft jede Internet-Verknüpfung (*.url) des Favoritenordners und die Lesezeichen der\n"
           "Browser mit HTTP HEAD, schreibt das Protokoll auf die Standardausgabe, am Ende die\n"
           "FAILED-Einträge mit ihren Dateien und die Zusammenfassung, und speichert die\n"
           "Ergebnisse in urls.dat (neben dem Programm, sonst in $XDG_DATA_HOME/quorvane/).\n"
           "Mit ADRESSEN prüft es nur diese (- liest sie zeilenweise von der Standardeingabe)\n"
           "und speichert nur mit --results.\n\n" +
           OptionLines(program) +
           "\nRückgabewerte:\n"
           "  0    kein Favorit ist FAILED\n"
           "  2    mindestens ein Favorit ist FAILED\n"
           "  1    die Prüfung konnte nicht laufen oder ihre Ergebnisse nicht speichern\n"
           "  130  mit Strg+C abgebrochen (143 nach SIGTERM, 141 wenn der Leser der Ausgabe "
           "endet,\n       etwa | head); die Ergebnisse bis dahin sind gespeichert\n";
}
