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
    switch (rowtext::VerdictKindOf(datum)) {
        case rowtext::TVerdictKind::Alive:
            return "\033[32m";
        case rowtext::TVerdictKind::Dead:
            return "\033[31m";
        case rowtext::TVerdictKind::Refused:
            return "\033[33m";
        case rowtext::TVerdictKind::Skipped:
            return "\033[90m";
        case rowtext::TVerdictKind::Plain:
            break;
    }
    return {};
}
