#include "app/core/RunSummary.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

TFavoriteList ListOf(std::initializer_list<const char*> statuses) {
    TFavoriteList list;
    for (const char* status : statuses) {
        TFavoriteRow row;
        row.Datum = status;
        list.Append(row);
    }
    return list;
}

}  // namespace

TEST(RunSummary, CountsEveryKindOfStatus) {
    const struct {
        TFavoriteList list;
        const char* line;
    } cases[] = {
        {ListOf({}), "0 Einträge: 0 OK, 0 mit Datum, 0 FAILED"},
        {ListOf({"OK"}), "1 Eintrag: 1 OK, 0 mit Datum, 0 FAILED"},
        {ListOf({"OK", "FAILED", "2002/10/09; 10:10:10 GMT", "OK", "???"}),
         "5 Einträge: 2 OK, 1 mit Datum, 1 FAILED, 1 ungeprüft"},
        {ListOf({"SKIPPED", "BLOCKED", "FAILED", "SKIPPED", "CHECKING..."}),
         "5 Einträge: 0 OK, 0 mit Datum, 1 FAILED, 1 BLOCKED, 2 SKIPPED, 1 ungeprüft"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(SummaryLine(Summarize(cases[i].list)), cases[i].line) << "case " << i;
}

TEST(RunSummary, LastRunLineFoldsDatesIntoOkAndNamesOnlyKindsThatOccur) {
    const struct {
        TFavoriteList list;
        const char* line;
    } cases[] = {
        {ListOf({}), "Letzte Prüfung: 0 OK, 0 FAILED"},
        {ListOf({"OK", "2002/10/09; 10:10:10 GMT", "FAILED"}), "Letzte Prüfung: 2 OK, 1 FAILED"},
        {ListOf({"BLOCKED", "SKIPPED", "SKIPPED", "???", "OK"}),
         "Letzte Prüfung: 1 OK, 0 FAILED, 1 BLOCKED, 2 SKIPPED, 1 ungeprüft"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(LastRunLine(Summarize(cases[i].list)), cases[i].line) << "case " << i;
}
