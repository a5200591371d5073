// Deleting and visiting favourites: which rows the buttons act on, in which order, and what
// the user is asked and told. The trash, the browser and the message boxes sit behind small
// interfaces, so the window supplies the real ones and tests supply their own.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "FavoriteList.h"
#include "MessageKinds.h"

// One message box. An empty Caption means the box has no caption of its own and shows the
// platform's default one.
struct TPrompt {
    std::string Text;
    std::string Caption;
    TMsgButtons Buttons = TMsgButtons::Ok;
    TMsgIcon Icon = TMsgIcon::None;
    bool operator==(const TPrompt&) const = default;
};

// The questions and reports of deleting. files counts the shortcut files that would go to the
// trash; bookmarks the rows that the question leaves alone because they are browser
// bookmarks, which the question then names.
TPrompt AskDeleteSelectedPrompt(std::size_t files, std::size_t bookmarks = 0);
TPrompt AskDeleteFailedPrompt(std::size_t files, std::size_t bookmarks = 0);
// Said instead of the question about FAILED rows when no shortcut row is marked so.
TPrompt NoFailedFilesPrompt(std::size_t bookmarks = 0);
// Why selected bookmark rows stay: "2 markierte Lesezeichen bleiben ...".
std::string BookmarksLeftText(std::size_t bookmarks, const char* which);
TPrompt CannotDeleteSelectedPrompt();
TPrompt CannotDeleteFailedPrompt(const std::string& path);

// Shows a message box modally and returns the button the user chose.
class TPrompter {
  public:
    virtual ~TPrompter() = default;
    virtual TMsgAnswer Show(const TPrompt& prompt) = 0;
};

// Moves a shortcut file to the recycle bin; true when it is there (and restorable).
class TTrash {
  public:
    virtual ~TTrash() = default;
    virtual bool DeleteURLFile(const std::string& path) = 0;
};

// Opens a shortcut file as the desktop would: its address in the default browser; or a
// bookmark's address there. A failed visit is not reported.
class TShortcutOpener {
  public:
    virtual ~TShortcutOpener() = default;
    virtual void OpenShortcut(const std::string& path) = 0;
    virtual void OpenAddress(const std::string& url) = 0;
};

// Whether the row at a position is selected. The selection belongs to the view; deleting asks
// again for every position, walking from the last row to the first, so removals behind the
// walk never shift the positions it has still to visit.
using TRowSelected = std::function<bool(std::size_t)>;

// Opens the topmost selected row's shortcut (a bookmark row's address); nothing when no row
// is selected.
void VisitFirstSelected(const TFavoriteList& list, const TRowSelected& selected,
                        TShortcutOpener& opener);

// A line for the log.
using TNoteLine = std::function<void(const std::string& line)>;

// Moves the selected rows' files to the trash and removes their rows; asks first when
// askFirst is set and does nothing unless the answer is Yes. With no row selected nothing is
// asked. A file that cannot be moved keeps its row and gets one report. Returns the number of
// rows removed. Bookmark rows are never deleted: the question says how many stay, or without
// a question the note does; with only bookmark rows selected that is all that is shown.
std::size_t DeleteSelected(TFavoriteList& list, const TRowSelected& selected, bool askFirst,
                           TTrash& trash, TPrompter& prompter, const TNoteLine& note = {});

// The same for every shortcut row whose status is exactly "FAILED", asking first when askFirst
// is set; the question says how many FAILED bookmark rows stay (without a question the note
// does). With no FAILED shortcut row there is nothing to ask: askFirst shows that in a box.
std::size_t DeleteFailed(TFavoriteList& list, TTrash& trash, TPrompter& prompter,
                         bool askFirst = true, const TNoteLine& note = {});
