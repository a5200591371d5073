// The favourites scan: finds the user's Favorites folder through the shell browser, walks it
// and every folder below it, and appends one row per Internet shortcut file (".url" or a
// freedesktop link ".desktop", any letter case) that names an address. Within a folder its
// files come first, then its subfolders, each in name order (see NameOrder.h). Free of
// widgets: the window and the headless program both run it. Pending messages are processed
// once per directory entry.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FavoriteList.h"
#include "ShortcutFile.h"

class TShellBrowser;

class TFavoriteScanner {
  public:
    // Folders nested deeper than this are not entered.
    static constexpr int kMaxDepth = 1000;
    // A folder reached by more paths than this (links into a mesh) is walked this often only.
    static constexpr int kMaxWalksPerFolder = 3;

    // Uses the given browser (FileSystemOnly true and Filter "*", as the window keeps it), or
    // a browser of its own when none is given.
    explicit TFavoriteScanner(TFavoriteList& list, TShellBrowser* browser = nullptr);
    ~TFavoriteScanner();

    // The whole scan: the rows go to the end of the list. No Favorites folder: no rows.
    void FavoritenEinlesen();
    // The same scan of another folder in its place (one copied from or mounted on a Windows
    // disk, say). No such folder: no rows.
    void ReadFolder(const std::string& folder);
    // Walks one folder and everything below it; depth 0 is the Favorites folder.
    void ScanFolder(const std::string& folder, int depth);
    // Reads one shortcut file and appends its row if it names an address.
    void ReadURLFile(const std::string& path, const std::string& name);

    // The icon index every row of the scan gets, and the Favorites path the rows are relative
    // to (ends with "/"); both set by FavoritenEinlesen.
    int ImageIndex() const { return imageIndex_; }
    const std::string& RootPath() const { return root_; }
    // What the last public call left out: shortcut files that name no address, in the order
    // met; whether a folder was reached more often than it is walked; whether a link led into
    // a system folder (/proc, /sys...), which is never entered.
    const std::vector<std::string>& NoAddressFiles() const { return noAddress_; }
    bool FoldersLimited() const { return foldersLimited_; }
    bool SystemFoldersSkipped() const { return systemFoldersSkipped_; }

  private:
    // A folder entry: its name lies in a text shared by the folder's entries, ended by a NUL.
    struct TEntry {
        std::size_t offset;
        std::size_t length;
        unsigned char type;  // as readdir gives it
    };
    using TFolderId = std::pair<dev_t, ino_t>;
    template <typename Fn>
    void Batch(Fn&& walk);
    void WalkCurrentFolder();
    int ChooseIcon();
    void Walk(const std::string& folder, int depth);
    bool Admit(int fd, TFolderId& id);
    void ReadEntries(DIR* folder, const std::string& dir, std::vector<std::string>& folders);
    void Take(TShortcut shortcut, std::string path, std::string_view name);

    TFavoriteList& list_;
    std::unique_ptr<TShellBrowser> ownBrowser_;
    TShellBrowser& browser_;
    int imageIndex_ = -1;
    std::string root_;
    // Rows found by the call in progress; handed to the list in one go when it returns.
    std::vector<TFavoriteRow> pending_;
    bool batching_ = false;
    // The folders from the start of the walk down to the one being read. A link back to one of
    // them is a loop and is not entered; a second path to a folder elsewhere is walked again,
    // so that each of its rows is listed under both paths.
    std::set<TFolderId> onPath_;
    std::map<TFolderId, int> walks_;  // how often each folder was walked by this call
    std::vector<std::string> noAddress_;
    bool foldersLimited_ = false;
    bool systemFoldersSkipped_ = false;
};
