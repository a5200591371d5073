#include "RunSummary.h"

#include "RowText.h"

TRunSummary Summarize(const TFavoriteList& list) {
    TRunSummary summary;
    summary.Rows = list.Count();
    for (const TFavoriteRow& row : list.Rows()) {
        if (row.Datum == rowtext::kOk)
            ++summary.Ok;
        else if (row.Datum == rowtext::kFailed)
            ++summary.Failed;
        else if (row.Datum == rowtext::kBlocked)
            ++summary.Blocked;
        else if (row.Datum == rowtext::kSkipped)
            ++summary.Skipped;
        else if (rowtext::IsUnchecked(row.Datum))
            ++summary.Unchecked;
        else
            ++summary.Dated;
    }
    return summary;
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
