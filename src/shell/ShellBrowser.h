// TShellBrowser walks one folder of the shell namespace at a time: it is pointed at a folder
// (by path, special-folder kind or id list), hands out the folder's objects through a wildcard
// filter and an optional file-system-only rule, and answers questions about the current
// object. Paths use "/" and a folder's path always ends with one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "IDList.h"
#include "ShellNamespace.h"

// Every error of the browser.
class EShellBrowserError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

namespace shell {

// The id list of a text parsed by a folder (the desktop when none is given): relative to that
// folder, absolute for the desktop. Empty when the folder cannot parse it.
IDListPtr IDListFromPath(IShellFolder* folder, const std::string& text);
// The special-folder kind (1 to 22) whose folder the absolute list names, or 0.
int SpecialFolderKind(LPCITEMIDLIST list);
// The folder id of a special-folder kind (0 to 26); -1 for any other number.
int SpecialFolderId(int kind);

constexpr int kFavoritesKind = 17;

}  // namespace shell

class TDirMon;

class TShellBrowser {
  public:
    using TNotifyEvent = std::function<void(TShellBrowser& sender)>;
    using TOnContextMenuSelectEvent =
        std::function<void(const std::string& command, bool& execute)>;

    // Starts in the drives folder ("Computer"), with no current object and the filter "*".
    TShellBrowser();
    ~TShellBrowser();
    TShellBrowser(const TShellBrowser&) = delete;
    TShellBrowser& operator=(const TShellBrowser&) = delete;

    void Loaded() { loaded_ = true; }
    bool IsLoaded() const { return loaded_; }

    // The current folder's file-system path with a trailing "/"; empty for virtual folders.
    const std::string& Folder() const { return folder_; }
    // Selects the folder of a path; the empty text selects the drives folder. The same path
    // again does nothing. Throws EShellBrowserError when there is no such folder.
    void SetFolder(const std::string& path);
    // False, with nothing changed, when this system has no folder of that kind.
    bool SelectSpecialFolder(int kind);
    // Makes the folder named by an absolute id list the current one (the list is copied).
    void SetFolderIDList(shell::LPCITEMIDLIST list);

    // Advances to the next object that passes the rules; false at the end, after which the
    // next call starts over at the first object.
    bool Next();
    bool IsFolder();
    std::uint32_t GetAttributes(std::uint32_t mask);
    // The current object's file name; "/" for the root; empty for virtual objects.
    std::string ObjectName();
    // Selects an object by name or path; the empty text clears the current object.
    void SetObjectName(const std::string& name);
    std::string DisplayName();
    // The current object's index in the system image list (the current folder's without one).
    int SmallIconIndex();

    std::string Filter() const;
    void SetFilter(const std::string& filter);
    bool FileSystemOnly() const { return fileSystemOnly_; }
    void SetFileSystemOnly(bool value) { fileSystemOnly_ = value; }
    std::vector<std::string>& MultiObjects() { return multiObjects_; }
    std::string Version() const { return "TShellBrowser V2.3"; }
    void SetVersion(const std::string&) {}

    const TNotifyEvent& OnFileChange() const { return onFileChange_; }
    // A handler is raised whenever a file or folder name in the current folder changes, from
    // a directory monitor that follows the browser from folder to folder (and waits while the
    // folder has no path). No handler: no monitor. The handler may replace itself.
    void SetOnFileChange(TNotifyEvent handler);
    TNotifyEvent OnRename;
    TOnContextMenuSelectEvent OnContextMenuSelect;

    // The id lists the browser owns: the folder's (absolute), the current object's (relative
    // to the folder) and the object's absolute one. nullptr when there is none.
    shell::LPCITEMIDLIST FolderIDList() const { return folderList_.get(); }
    shell::LPCITEMIDLIST ObjectIDList() const { return objectList_.get(); }
    shell::LPCITEMIDLIST AbsoluteObjectIDList();

  private:
    void SetCurrentObject(shell::IDListPtr object);
    bool KeptByFileSystemRule();
    bool PassesFilter();
    void SelectRootAsObject(const std::string& root);
    void SearchObject(const std::string& name);

    std::string folder_;
    shell::IDListPtr folderList_;
    std::shared_ptr<shell::IShellFolder> folderObject_;
    shell::IDListPtr objectList_;
    shell::IDListPtr absoluteObjectList_;
    std::unique_ptr<shell::IEnumIDList> enumerator_;
    bool fileSystemOnly_ = false;
    std::vector<std::string> multiObjects_;
    std::vector<std::string> patterns_{"*"};
    bool loaded_ = false;
    TNotifyEvent onFileChange_;
    std::unique_ptr<TDirMon> monitor_;  // while onFileChange_ is set
};
