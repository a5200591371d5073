// The counts of a list's statuses after a run, and the one line that reports them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "FavoriteList.h"

struct TRunSummary {
    std::size_t Rows = 0;
    std::size_t Ok = 0;
    std::size_t Dated = 0;  // any other stored text: a Last-Modified date
    std::size_t Failed = 0;
    std::size_t Blocked = 0;
    std::size_t Skipped = 0;
    std::size_t Unchecked = 0;  // "???"
};

TRunSummary Summarize(const TFavoriteList& list);
// Counts one row's status text into summary (Rows included).
void CountStatus(TRunSummary& summary, std::string_view datum);
// "5 Einträge: 2 OK, 1 mit Datum, 1 FAILED", with ", 1 BLOCKED", ", 1 SKIPPED" and
// ", 1 ungeprüft" when there are such rows.
std::string SummaryLine(const TRunSummary& summary);
// "Letzte Prüfung: 280 OK, 12 FAILED, 3 BLOCKED, 5 SKIPPED": rows with a date count as OK;
// BLOCKED, SKIPPED and ", 2 ungeprüft" (aborted rows) only when there are such rows.
std::string LastRunLine(const TRunSummary& summary);
