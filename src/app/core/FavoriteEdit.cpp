#include "FavoriteEdit.h"

#include "RowText.h"

namespace {

const char kDeleteCaption[] = "Dateien löschen";
const char kToTrashOne[] = " Sie wird in den Papierkorb verschoben.";
const char kToTrashMany[] = " Sie werden in den Papierkorb verschoben.";

// How many rows pass, and how many of them are bookmarks.
struct TSelection {
    std::size_t rows = 0;
    std::size_t bookmarks = 0;
};

TSelection Count(const TFavoriteList& list, const std::function<bool(std::size_t)>& passes) {
    TSelection count;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (passes(i)) {
            ++count.rows;
            count.bookmarks += list[i].Bookmark ? 1 : 0;
        }
    }
    return count;
}

TPrompt WithBookmarks(TPrompt prompt, std::size_t bookmarks, const char* which) {
    if (bookmarks > 0)
        prompt.Text += "\n\n" + BookmarksLeftText(bookmarks, which);
    return prompt;
}

// Visits the rows from the last to the first; each row that qualifies is trashed and removed,
// or kept with one report when its file cannot be moved.
std::size_t DeleteRows(TFavoriteList& list, const std::function<bool(std::size_t)>& qualifies,
                       const std::function<TPrompt(const std::string&)>& failure, TTrash& trash,
                       TPrompter& prompter) {
    std::size_t removed = 0;
    for (std::size_t i = list.Count(); i-- > 0;) {
        if (i >= list.Count() || !qualifies(i))
            continue;
        std::string path = list[i].Datei;
        if (trash.DeleteURLFile(path)) {
            list.Remove(i);
            ++removed;
        } else {
            prompter.Show(failure(path));
        }
    }
    return removed;
}

}  // namespace

TPrompt AskDeleteSelectedPrompt(std::size_t files, std::size_t bookmarks) {
    const std::string text =
        files == 1 ? "Wollen Sie die markierte Datei wirklich löschen?" + std::string(kToTrashOne)
                   : "Wollen Sie die " + std::to_string(files) +
                         " markierten Dateien wirklich löschen?" + kToTrashMany;
    return WithBookmarks({text, kDeleteCaption, TMsgButtons::YesNo, TMsgIcon::Question}, bookmarks,
                         "markierte");
}

TPrompt AskDeleteFailedPrompt(std::size_t files, std::size_t bookmarks) {
    const std::string text =
        files == 1 ? "Wollen Sie die eine Datei wirklich löschen, die mit FAILED markiert ist?" +
                         std::string(kToTrashOne)
                   : "Wollen Sie wirklich alle " + std::to_string(files) +
                         " Dateien löschen, die mit FAILED markiert sind?" + kToTrashMany;
    return WithBookmarks({text, kDeleteCaption, TMsgButtons::YesNo, TMsgIcon::Question}, bookmarks,
                         "mit FAILED markierte");
}

TPrompt NoFailedFilesPrompt(std::size_t bookmarks) {
    return WithBookmarks({"Keine Datei ist mit FAILED markiert.", kDeleteCaption, TMsgButtons::Ok,
                          TMsgIcon::Information},
                         bookmarks, "mit FAILED markierte");
}

std::string BookmarksLeftText(std::size_t bookmarks, const char* which) {
    const std::string count = std::to_string(bookmarks) + " " + which;
    return (bookmarks == 1 ? count + "s Lesezeichen bleibt" : count + " Lesezeichen bleiben") +
           " unverändert: Lesezeichen löschen Sie im Browser.";
}

TPrompt CannotDeleteSelectedPrompt() {
    return {"Konnte Datei nicht löschen!", "", TMsgButtons::Ok, TMsgIcon::None};
}

TPrompt CannotDeleteFailedPrompt(const std::string& path) {
    return {"Konnte Datei " + path + " nicht löschen!", "", TMsgButtons::Ok, TMsgIcon::None};
}

void VisitFirstSelected(const TFavoriteList& list, const TRowSelected& selected,
                        TShortcutOpener& opener) {
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (selected(i)) {
            if (list[i].Bookmark)
                opener.OpenAddress(list[i].URL);
            else
                opener.OpenShortcut(list[i].Datei);
            return;
        }
    }
}

std::size_t DeleteSelected(TFavoriteList& list, const TRowSelected& selected, bool askFirst,
                           TTrash& trash, TPrompter& prompter, const TNoteLine& note) {
    const TSelection selection = Count(list, selected);
    if (selection.rows == 0)
        return 0;
    const bool onlyBookmarks = selection.rows == selection.bookmarks;
    if (askFirst && onlyBookmarks) {
        prompter.Show({BookmarksLeftText(selection.bookmarks, "markierte"), kDeleteCaption,
                       TMsgButtons::Ok, TMsgIcon::Information});
        return 0;
    }
    if (askFirst && prompter.Show(AskDeleteSelectedPrompt(selection.rows - selection.bookmarks,
                                                          selection.bookmarks)) != TMsgAnswer::Yes)
        return 0;
    if (!askFirst && selection.bookmarks > 0 && note)
        note(BookmarksLeftText(selection.bookmarks, "markierte"));
    return DeleteRows(
        list, [&](std::size_t i) { return selected(i) && !list[i].Bookmark; },
        [](const std::string&) { return CannotDeleteSelectedPrompt(); }, trash, prompter);
}

std::size_t DeleteFailed(TFavoriteList& list, TTrash& trash, TPrompter& prompter, bool askFirst,
                         const TNoteLine& note) {
    auto failed = [&](std::size_t i) { return list[i].Datum == rowtext::kFailed; };
    const TSelection selection = Count(list, failed);
    const std::size_t files = selection.rows - selection.bookmarks;
    if (askFirst && files == 0) {
        prompter.Show(NoFailedFilesPrompt(selection.bookmarks));
        return 0;
    }
    if (askFirst &&
        prompter.Show(AskDeleteFailedPrompt(files, selection.bookmarks)) != TMsgAnswer::Yes)
        return 0;
    if (!askFirst && selection.bookmarks > 0 && note)
        note(BookmarksLeftText(selection.bookmarks, "mit FAILED markierte"));
    return DeleteRows(
        list, [&](std::size_t i) { return failed(i) && !list[i].Bookmark; },
        CannotDeleteFailedPrompt, trash, prompter);
}
