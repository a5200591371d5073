#include "ConsoleColor.h"

#include <string>

#include "RowText.h"

bool ColorsWanted(TColorChoice choice, bool terminal, const char* noColor, const char* term) {
    switch (choice) {
        case TColorChoice::Always:
            return true;
        case TColorChoice::Never:
            return false;
        case TColorChoice::Auto:
            break;
    }
    const bool noColorSet = noColor != nullptr && *noColor != '\0';
    const bool dumb = term != nullptr && std::string_view(term) == "dumb";
    return terminal && !noColorSet && !dumb;
}

std::string_view VerdictColor(std::string_view datum) {
    if (datum == rowtext::kFailed)
        return "\033[31m";
    if (datum == rowtext::kBlocked)
        return "\033[33m";
    if (datum == rowtext::kSkipped)
        return "\033[90m";
    if (rowtext::IsUnchecked(datum))
        return {};
    return "\033[32m";  // OK or a date
}
