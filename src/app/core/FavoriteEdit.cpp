#include "FavoriteEdit.h"

#include "RowText.h"

namespace {

const char kDeleteCaption[] = "Dateien löschen";

bool AnySelected(const TFavoriteList& list, const TRowSelected& selected) {
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (selected(i))
            return true;
    }
    return false;
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

TPrompt AskDeleteSelectedPrompt() {
    return {"Wollen Sie die markierten Dateien wirklich löschen?", kDeleteCaption,
            TMsgButtons::YesNo, TMsgIcon::Question};
}

TPrompt AskDeleteFailedPrompt() {
    return {"Wollen Sie wirklich alle Datei löschen, die mit FAILED markiert sind?", kDeleteCaption,
            TMsgButtons::YesNo, TMsgIcon::Question};
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
            opener.OpenShortcut(list[i].Datei);
            return;
        }
    }
}

std::size_t DeleteSelected(TFavoriteList& list, const TRowSelected& selected, bool askFirst,
                           TTrash& trash, TPrompter& prompter) {
    if (!AnySelected(list, selected))
        return 0;
    if (askFirst && prompter.Show(AskDeleteSelectedPrompt()) != TMsgAnswer::Yes)
        return 0;
    return DeleteRows(
        list, selected, [](const std::string&) { return CannotDeleteSelectedPrompt(); }, trash,
        prompter);
}

std::size_t DeleteFailed(TFavoriteList& list, TTrash& trash, TPrompter& prompter) {
    if (prompter.Show(AskDeleteFailedPrompt()) != TMsgAnswer::Yes)
        return 0;
    return DeleteRows(
        list, [&](std::size_t i) { return list[i].Datum == rowtext::kFailed; },
        CannotDeleteFailedPrompt, trash, prompter);
}
