#include "app/core/FavoriteEdit.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

namespace {

struct FakeTrash : TTrash {
    std::set<std::string> refused;
    std::vector<std::string> asked;
    bool DeleteURLFile(const std::string& path) override {
        asked.push_back(path);
        return refused.count(path) == 0;
    }
};

struct FakePrompter : TPrompter {
    std::deque<TMsgAnswer> answers;  // for the questions; reports are answered OK
    std::vector<TPrompt> shown;
    TMsgAnswer Show(const TPrompt& prompt) override {
        shown.push_back(prompt);
        if (prompt.Buttons == TMsgButtons::Ok)
            return TMsgAnswer::Ok;
        TMsgAnswer a = answers.empty() ? TMsgAnswer::No : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return a;
    }
};

struct FakeOpener : TShortcutOpener {
    std::vector<std::string> opened;
    void OpenShortcut(const std::string& path) override { opened.push_back(path); }
    void OpenAddress(const std::string& url) override { opened.push_back("address " + url); }
};

// Rows a..e with the files /f/a.url.. and the given statuses.
TFavoriteList MakeList(const std::vector<std::string>& datum) {
    TFavoriteList list;
    for (std::size_t i = 0; i < datum.size(); ++i) {
        TFavoriteRow r;
        r.Name = std::string(1, static_cast<char>('a' + i));
        r.Datei = "/f/" + r.Name + ".url";
        r.Datum = datum[i];
        list.Append(r);
    }
    return list;
}

std::vector<std::string> NamesOf(const TFavoriteList& list) {
    std::vector<std::string> names;
    for (const auto& r : list.Rows())
        names.push_back(r.Name);
    return names;
}

TRowSelected Selected(std::set<std::size_t> positions) {
    return [positions](std::size_t i) { return positions.count(i) > 0; };
}

using Names = std::vector<std::string>;

}  // namespace

TEST(FavoriteEdit, PromptsCarryTheirExactTextsCaptionsButtonsAndIcons) {
    const struct {
        TPrompt shown;
        std::string text;
    } questions[] = {
        {AskDeleteSelectedPrompt(1),
         "Wollen Sie die markierte Datei wirklich löschen? Sie wird in den Papierkorb "
         "verschoben."},
        {AskDeleteSelectedPrompt(12),
         "Wollen Sie die 12 markierten Dateien wirklich löschen? Sie werden in den Papierkorb "
         "verschoben."},
        {AskDeleteFailedPrompt(1),
         "Wollen Sie die eine Datei wirklich löschen, die mit FAILED markiert ist? Sie wird in "
         "den Papierkorb verschoben."},
        {AskDeleteFailedPrompt(3),
         "Wollen Sie wirklich alle 3 Dateien löschen, die mit FAILED markiert sind? Sie werden "
         "in den Papierkorb verschoben."},
    };
    for (const auto& q : questions) {
        SCOPED_TRACE(q.text);
        EXPECT_EQ(q.shown,
                  (TPrompt{q.text, "Dateien löschen", TMsgButtons::YesNo, TMsgIcon::Question}));
    }
    EXPECT_EQ(NoFailedFilesPrompt(),
              (TPrompt{"Keine Datei ist mit FAILED markiert.", "Dateien löschen", TMsgButtons::Ok,
                       TMsgIcon::Information}));
    EXPECT_EQ(CannotDeleteSelectedPrompt(),
              (TPrompt{"Konnte Datei nicht löschen!", "", TMsgButtons::Ok, TMsgIcon::None}));
    EXPECT_EQ(
        CannotDeleteFailedPrompt("/f/x y.url"),
        (TPrompt{"Konnte Datei /f/x y.url nicht löschen!", "", TMsgButtons::Ok, TMsgIcon::None}));
}

TEST(FavoriteEdit, DeleteSelectedTable) {
    struct Case {
        const char* what;
        std::set<std::size_t> selected;
        bool ask;
        std::vector<TMsgAnswer> answers;
        Names remaining;
        std::vector<std::string> trashed;  // in the order asked, last row first
        std::size_t questions;
    };
    const auto Yes = TMsgAnswer::Yes;
    const auto No = TMsgAnswer::No;
    const std::vector<Case> cases = {
        {"asks and deletes on Yes",
         {1, 3},
         true,
         {Yes},
         {"a", "c", "e"},
         {"/f/d.url", "/f/b.url"},
         1},
        {"No leaves everything", {1, 3}, true, {No}, {"a", "b", "c", "d", "e"}, {}, 1},
        {"without the question", {0, 4}, false, {}, {"b", "c", "d"}, {"/f/e.url", "/f/a.url"}, 0},
        {"nothing selected asks nothing", {}, true, {Yes}, {"a", "b", "c", "d", "e"}, {}, 0},
        {"all selected empties the list",
         {0, 1, 2, 3, 4},
         true,
         {Yes},
         {},
         {"/f/e.url", "/f/d.url", "/f/c.url", "/f/b.url", "/f/a.url"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TFavoriteList list = MakeList({"OK", "???", "FAILED", "OK", "???"});
        FakeTrash trash;
        FakePrompter prompter;
        prompter.answers.assign(c.answers.begin(), c.answers.end());
        std::size_t removed = DeleteSelected(list, Selected(c.selected), c.ask, trash, prompter);
        EXPECT_EQ(NamesOf(list), c.remaining);
        EXPECT_EQ(trash.asked, c.trashed);
        EXPECT_EQ(removed, c.trashed.size());
        EXPECT_EQ(prompter.shown.size(), c.questions);
        if (c.questions && !prompter.shown.empty()) {
            EXPECT_EQ(prompter.shown[0], AskDeleteSelectedPrompt(c.selected.size()));
        }
    }
}

TEST(FavoriteEdit, FilesThatCannotBeMovedKeepTheirRowsWithOneReportEach) {
    TFavoriteList list = MakeList({"FAILED", "FAILED", "FAILED", "FAILED"});
    FakeTrash trash;
    trash.refused = {"/f/a.url", "/f/c.url"};
    FakePrompter prompter;
    prompter.answers = {TMsgAnswer::Yes};
    DeleteSelected(list, Selected({0, 1, 2}), true, trash, prompter);
    EXPECT_EQ(NamesOf(list), (Names{"a", "c", "d"}));
    EXPECT_EQ(prompter.shown,
              (std::vector<TPrompt>{AskDeleteSelectedPrompt(3), CannotDeleteSelectedPrompt(),
                                    CannotDeleteSelectedPrompt()}));

    prompter = FakePrompter{};
    prompter.answers = {TMsgAnswer::Yes};
    DeleteFailed(list, trash, prompter);
    EXPECT_EQ(NamesOf(list), (Names{"a", "c"}));
    // The later row is visited first.
    EXPECT_EQ(prompter.shown,
              (std::vector<TPrompt>{AskDeleteFailedPrompt(3), CannotDeleteFailedPrompt("/f/c.url"),
                                    CannotDeleteFailedPrompt("/f/a.url")}));
}

TEST(FavoriteEdit, DeleteFailedTakesOnlyRowsExactlyFailedAndAsksWhenTold) {
    struct Case {
        const char* what;
        std::vector<std::string> datum;
        bool askFirst;
        TMsgAnswer answer;
        Names remaining;
        std::vector<TPrompt> shown;
    };
    const std::vector<Case> cases = {
        {"only exact FAILED goes",
         {"FAILED", "failed", "FAILED ", "???", "2002/10/09; 10:10:10 GMT", "FAILED", "OK"},
         true,
         TMsgAnswer::Yes,
         {"b", "c", "d", "e", "g"},
         {AskDeleteFailedPrompt(2)}},
        {"No keeps them",
         {"FAILED", "FAILED"},
         true,
         TMsgAnswer::No,
         {"a", "b"},
         {AskDeleteFailedPrompt(2)}},
        {"without the question", {"FAILED", "OK"}, false, TMsgAnswer::No, {"b"}, {}},
        {"none there: told, not asked",
         {"OK", "???"},
         true,
         TMsgAnswer::Yes,
         {"a", "b"},
         {NoFailedFilesPrompt()}},
        {"an empty list", {}, true, TMsgAnswer::Yes, {}, {NoFailedFilesPrompt()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TFavoriteList list = MakeList(c.datum);
        FakeTrash trash;
        FakePrompter prompter;
        prompter.answers = {c.answer};
        DeleteFailed(list, trash, prompter, c.askFirst);
        EXPECT_EQ(NamesOf(list), c.remaining);
        EXPECT_EQ(prompter.shown, c.shown);
        EXPECT_EQ(trash.asked.size(), c.datum.size() - c.remaining.size());
    }
}

TEST(FavoriteEdit, VisitOpensOnlyTheTopmostSelectedRow) {
    TFavoriteList list = MakeList({"OK", "OK", "OK", "OK"});
    FakeOpener opener;
    VisitFirstSelected(list, Selected({3, 1, 2}), opener);
    VisitFirstSelected(list, Selected({}), opener);
    EXPECT_EQ(opener.opened, std::vector<std::string>{"/f/b.url"});
}

namespace {

// Rows a..e as MakeList makes them, with the rows at the given positions made bookmarks.
TFavoriteList WithBookmarks(const std::vector<std::string>& datum, std::set<std::size_t> marks) {
    TFavoriteList list = MakeList(datum);
    std::vector<TFavoriteRow> rows = list.Rows();
    for (std::size_t i : marks) {
        rows[i].Bookmark = true;
        rows[i].Datei = "/p/places.sqlite#guid" + rows[i].Name;
        rows[i].URL = "https://example.org/" + rows[i].Name;
    }
    list.Assign(rows);
    return list;
}

}  // namespace

TEST(FavoriteEdit, BookmarkRowsAreNeverDeletedAndTheUserIsToldHowMany) {
    const std::string both =
        "Wollen Sie die markierte Datei wirklich löschen? Sie wird in den Papierkorb "
        "verschoben.\n\n"
        "2 markierte Lesezeichen bleiben unverändert: Lesezeichen löschen "
        "Sie im Browser.";
    const std::string one =
        "1 markiertes Lesezeichen bleibt unverändert: Lesezeichen löschen Sie im Browser.";
    struct {
        const char* name;
        std::set<std::size_t> selected;
        bool askFirst;
        std::vector<std::string> shownTexts;
        std::vector<std::string> notes;
        std::vector<std::string> left;
    } cases[] = {
        {"mixed, asked", {0, 1, 3}, true, {both}, {}, {"b", "c", "d", "e"}},
        {"mixed, not asked",
         {0, 1, 3},
         false,
         {},
         {both.substr(both.find("2 "))},
         {"b", "c", "d", "e"}},
        {"only a bookmark, asked: told, not asked",
         {1},
         true,
         {one},
         {},
         {"a", "b", "c", "d", "e"}},
        {"only a bookmark, not asked", {1}, false, {}, {one}, {"a", "b", "c", "d", "e"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFavoriteList list = WithBookmarks({"", "", "", "", ""}, {1, 3});
        FakeTrash trash;
        FakePrompter prompter;
        prompter.answers = {TMsgAnswer::Yes};
        std::vector<std::string> notes;
        DeleteSelected(list, Selected(c.selected), c.askFirst, trash, prompter,
                       [&](const std::string& line) { notes.push_back(line); });
        std::vector<std::string> texts;
        for (const TPrompt& prompt : prompter.shown)
            texts.push_back(prompt.Text);
        EXPECT_EQ(texts, c.shownTexts);
        EXPECT_EQ(notes, c.notes);
        EXPECT_EQ(NamesOf(list), c.left);
        for (const std::string& asked : trash.asked)
            EXPECT_EQ(asked.find('#'), std::string::npos) << asked;
    }
}

TEST(FavoriteEdit, DeleteFailedLeavesFailedBookmarksAndSaysSo) {
    TFavoriteList list = WithBookmarks({"FAILED", "FAILED", "OK", "FAILED"}, {1, 3});
    FakeTrash trash;
    FakePrompter prompter;
    prompter.answers = {TMsgAnswer::Yes};
    EXPECT_EQ(DeleteFailed(list, trash, prompter), 1u);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].Text,
              "Wollen Sie die eine Datei wirklich löschen, die mit FAILED markiert ist? Sie wird "
              "in den Papierkorb verschoben.\n\n2 mit "
              "FAILED markierte Lesezeichen bleiben unverändert: Lesezeichen löschen Sie im "
              "Browser.");
    EXPECT_EQ(NamesOf(list), (std::vector<std::string>{"b", "c", "d"}));
}

TEST(FavoriteEdit, VisitingABookmarkOpensItsAddress) {
    TFavoriteList list = WithBookmarks({"", "", ""}, {1});
    FakeOpener opener;
    VisitFirstSelected(list, Selected({1, 2}), opener);
    EXPECT_EQ(opener.opened, std::vector<std::string>{"address https://example.org/b"});
}
