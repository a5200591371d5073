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

namespace {

// The counts that most runs do not have, each only when it is not 0.
std::string RareCounts(const TRunSummary& summary) {
    std::string counts;
    if (summary.Blocked > 0)
        counts += ", " + std::to_string(summary.Blocked) + " BLOCKED";
    if (summary.Skipped > 0)
        counts += ", " + std::to_string(summary.Skipped) + " SKIPPED";
    if (summary.Unchecked > 0)
        counts += ", " + std::to_string(summary.Unchecked) + " ungeprüft";
    return counts;
}

}  // namespace

std::string SummaryLine(const TRunSummary& summary) {
    return std::to_string(summary.Rows) + (summary.Rows == 1 ? " Eintrag: " : " Einträge: ") +
           std::to_string(summary.Ok) + " OK, " + std::to_string(summary.Dated) + " mit Datum, " +
           std::to_string(summary.Failed) + " FAILED" + RareCounts(summary);
}

std::string LastRunLine(const TRunSummary& summary) {
    return "Letzte Prüfung: " + std::to_string(summary.Ok + summary.Dated) + " OK, " +
           std::to_string(summary.Failed) + " FAILED" + RareCounts(summary);
}
