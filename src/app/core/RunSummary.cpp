#include "RunSummary.h"

#include "RowText.h"

TRunSummary Summarize(const TFavoriteList& list) {
    TRunSummary summary;
    for (const TFavoriteRow& row : list.Rows())
        CountStatus(summary, row.Datum);
    return summary;
}

void CountStatus(TRunSummary& summary, std::string_view datum) {
    ++summary.Rows;
    if (datum == rowtext::kOk)
        ++summary.Ok;
    else if (datum == rowtext::kFailed)
        ++summary.Failed;
    else if (datum == rowtext::kBlocked)
        ++summary.Blocked;
    else if (datum == rowtext::kSkipped)
        ++summary.Skipped;
    else if (rowtext::IsUnchecked(datum))
        ++summary.Unchecked;
    else
        ++summary.Dated;
}

std::string SummaryLine(const TRunSummary& summary) {
    std::string line = std::to_string(summary.Rows) +
                       (summary.Rows == 1 ? " Eintrag: " : " Einträge: ") +
                       std::to_string(summary.Ok) + " OK, " + std::to_string(summary.Dated) +
                       " mit Datum, " + std::to_string(summary.Failed) + " FAILED";
    if (summary.Blocked > 0)
        line += ", " + std::to_string(summary.Blocked) + " BLOCKED";
    if (summary.Skipped > 0)
        line += ", " + std::to_string(summary.Skipped) + " SKIPPED";
    if (summary.Unchecked > 0)
        line += ", " + std::to_string(summary.Unchecked) + " ungeprüft";
    return line;
}

std::string LastRunLine(const TRunSummary& summary) {
    std::string line = "Letzte Prüfung: " + std::to_string(summary.Ok + summary.Dated) + " OK, " +
                       std::to_string(summary.Failed) + " FAILED";
    if (summary.Blocked > 0)
        line += ", " + std::to_string(summary.Blocked) + " BLOCKED";
    if (summary.Skipped > 0)
        line += ", " + std::to_string(summary.Skipped) + " SKIPPED";
    if (summary.Unchecked > 0)
        line += ", " + std::to_string(summary.Unchecked) + " ungeprüft";
    return line;
}
