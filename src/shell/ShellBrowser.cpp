#include "ShellBrowser.h"

#include <array>
#include <new>

#include "DirMon.h"
#include "ShellFilter.h"
#include "SystemIcons.h"
#include "sys/AsciiText.h"
#include "sys/UserFolders.h"

namespace shell {

namespace {

using sys::UpperAscii;

// Special-folder kind -> the shell's folder id.
constexpr std::array<int, 27> kFolderIds = {
    sys::kFolderDrives,          sys::kFolderBitbucket,        sys::kFolderControls,
    sys::kFolderDesktop,         sys::kFolderDesktopdirectory, sys::kFolderDrives,
    sys::kFolderFonts,           sys::kFolderNethood,          sys::kFolderNetwork,
    sys::kFolderPersonal,        sys::kFolderPrinters,         sys::kFolderPrograms,
    sys::kFolderRecent,          sys::kFolderSendto,           sys::kFolderStartmenu,
    sys::kFolderStartup,         sys::kFolderTemplates,        sys::kFolderFavorites,
    sys::kFolderCommonStartmenu, sys::kFolderCommonStartup,    sys::kFolderCommonDesktopdirectory,
    sys::kFolderAppdata,         sys::kFolderPrinthood,        sys::kFolderCommonFavorites,
    sys::kFolderInternetCache,   sys::kFolderCookies,          sys::kFolderHistory};

constexpr int kDrivesKind = 5;
constexpr int kNetworkKind = 8;
constexpr int kLastReportedKind = 22;

}  // namespace

IDListPtr IDListFromPath(IShellFolder* folder, const std::string& text) {
    std::shared_ptr<IShellFolder> desktop;
    if (!folder) {
        desktop = DesktopFolder();
        folder = desktop.get();
    }
    return folder ? folder->ParseDisplayName(text) : nullptr;
}

int SpecialFolderId(int kind) {
    if (kind < 0 || kind >= static_cast<int>(kFolderIds.size()))
        return -1;
    return kFolderIds[static_cast<std::size_t>(kind)];
}

int SpecialFolderKind(LPCITEMIDLIST list) {
    auto desktop = DesktopFolder();
    for (int kind = 1; kind <= kLastReportedKind; ++kind) {
        IDListPtr special = SHGetSpecialFolderLocation(SpecialFolderId(kind));
        if (special && desktop->CompareIDs(list, special.get()) == 0)
            return kind;
    }
    return 0;
}

}  // namespace shell

using namespace shell;

namespace {

const char* const kBindError =
    "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder";

std::string WithTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

bool StartsWithRecycle(const std::string& name) {
    static const std::string kRecycle = "RECYCLE";
    if (name.size() < kRecycle.size())
        return false;
    for (std::size_t i = 0; i < kRecycle.size(); ++i)
        if (UpperAscii(name[i]) != kRecycle[i])
            return false;
    return true;
}

}  // namespace

TShellBrowser::TShellBrowser() {
    SetFolder("");
}

TShellBrowser::~TShellBrowser() = default;

void TShellBrowser::SetFolder(const std::string& path) {
    // Exact comparison: names on this file system differ by letter case.
    if (!path.empty() && path == folder_)
        return;
    IDListPtr list = path.empty() ? SHGetSpecialFolderLocation(sys::kFolderDrives)
                                  : IDListFromPath(nullptr, path);
    if (!list)
        throw EShellBrowserError("Cannot Find Folder: " + path);
    SetFolderIDList(list.get());
}

bool TShellBrowser::SelectSpecialFolder(int kind) {
    int id = SpecialFolderId(kind);
    IDListPtr list = id < 0 ? nullptr : SHGetSpecialFolderLocation(id);
    if (!list)
        return false;
    SetFolderIDList(list.get());
    return true;
}

void TShellBrowser::SetFolderIDList(LPCITEMIDLIST list) {
    if (!list) {
        folderList_.reset();
        return;
    }
    // The new folder is bound before anything is dropped, so that a failure leaves the
    // browser on its old folder.
    auto desktop = DesktopFolder();
    IDListPtr empty = AllocIDList(2);
    std::shared_ptr<IShellFolder> folder;
    IDListPtr stored;
    if (desktop->CompareIDs(list, empty.get()) == 0) {
        folder = desktop;
        stored = std::move(empty);
    } else {
        folder = desktop->BindToObject(list);
        if (!folder)
            throw EShellBrowserError(kBindError);
        stored = CopyIDList(list);
    }
    if (!stored)
        throw std::bad_alloc();
    folderObject_ = std::move(folder);
    enumerator_.reset();
    folderList_ = std::move(stored);
    SetCurrentObject(nullptr);
    auto path = SHGetPathFromIDList(folderList_.get());
    folder_ = path ? WithTrailingSlash(*path) : std::string();
    if (monitor_)
        monitor_->SetDirectory(folder_);
}

void TShellBrowser::SetOnFileChange(TNotifyEvent handler) {
    // Only a running monitor is stopped: in a folder without a path none runs, and taking the
    // handler away there must not fail.
    if (monitor_ && monitor_->Running())
        monitor_->Stop();
    monitor_.reset();
    onFileChange_ = std::move(handler);
    if (!onFileChange_)
        return;
    monitor_ = std::make_unique<TDirMon>();
    monitor_->SetNotifyFilter({dmcFileName, dmcDirName});
    monitor_->OnDirChange = [this](sys::TObject*) {
        TNotifyEvent raise = onFileChange_;  // the handler may replace itself
        if (raise)
            raise(*this);
    };
    monitor_->SetDirectory(folder_);
}

void TShellBrowser::SetCurrentObject(IDListPtr object) {
    objectList_ = std::move(object);
    absoluteObjectList_.reset();
}

LPCITEMIDLIST TShellBrowser::AbsoluteObjectIDList() {
    if (!absoluteObjectList_)
        absoluteObjectList_ = ConcatIDLists(folderList_.get(), objectList_.get());
    return absoluteObjectList_.get();
}

bool TShellBrowser::Next() {
    if (!enumerator_) {
        if (folderObject_)
            enumerator_ = folderObject_->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS |
                                                     SHCONTF_INCLUDEHIDDEN);
        if (!enumerator_)
            return false;
    }
    for (;;) {
        IDListPtr item;
        if (enumerator_->Next(item) != S_OK || !item) {
            enumerator_.reset();
            return false;
        }
        SetCurrentObject(std::move(item));
        if (fileSystemOnly_ && GetAttributes(SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR) == 0 &&
            !KeptByFileSystemRule())
            continue;
        if (PassesFilter())
            return true;
    }
}

bool TShellBrowser::KeptByFileSystemRule() {
    if (StartsWithRecycle(ObjectName()))
        return true;
    int kind = SpecialFolderKind(AbsoluteObjectIDList());
    if (kind == kDrivesKind || kind == kNetworkKind)
        return true;
    return SpecialFolderKind(folderList_.get()) == kNetworkKind;
}

bool TShellBrowser::PassesFilter() {
    if (IsFolder())
        return true;
    std::string name = ObjectName();
    for (const auto& pattern : patterns_)
        if (MatchPattern(name, pattern))
            return true;
    return false;
}

bool TShellBrowser::IsFolder() {
    if (!objectList_)
        return false;
    std::uint32_t attributes = SFGAO_FOLDER;
    if (!folderObject_ || folderObject_->GetAttributesOf(objectList_.get(), attributes) != S_OK)
        return true;
    return (attributes & SFGAO_FOLDER) != 0;
}

std::uint32_t TShellBrowser::GetAttributes(std::uint32_t mask) {
    if (!objectList_ || !folderObject_)
        return 0;
    std::uint32_t attributes = mask;
    return folderObject_->GetAttributesOf(objectList_.get(), attributes) == S_OK ? attributes : 0;
}

std::string TShellBrowser::ObjectName() {
    if (!folderList_ || !objectList_)
        return {};
    auto path = SHGetPathFromIDList(AbsoluteObjectIDList());
    if (!path)
        return {};  // virtual objects have no file name; there are no network names here
    if (*path == "/")
        return *path;
    return path->substr(path->rfind('/') + 1);
}

void TShellBrowser::SetObjectName(const std::string& text) {
    if (text.empty()) {
        SetCurrentObject(nullptr);
        return;
    }
    std::string name = text;
    if (name.size() > 1 && name.back() == '/')
        name.pop_back();
    std::size_t cut = name.rfind('/');
    if (cut == std::string::npos) {
        SearchObject(name);
    } else if (name == "/") {
        SelectRootAsObject(name);
    } else {
        SetFolder(name.substr(0, cut + 1));
        SetObjectName(name.substr(cut + 1));
    }
}

// The root itself as the object: its parent (the drives folder) becomes the folder.
void TShellBrowser::SelectRootAsObject(const std::string& root) {
    SetFolder(root);
    TSplitIDList split = SplitLastItem(folderList_.get());
    SetFolderIDList(split.parent.get());
    SetCurrentObject(std::move(split.last));
}

void TShellBrowser::SearchObject(const std::string& name) {
    if (IDListPtr object = IDListFromPath(folderObject_.get(), name)) {
        SetCurrentObject(std::move(object));
        return;
    }
    while (Next()) {
        if (DisplayName() == name || ObjectName() == name) {
            enumerator_.reset();
            return;
        }
    }
    throw EShellBrowserError("Error! Cannot find Object \"" + name + "\" in Folder \"" + folder_ +
                             "\"");
}

std::string TShellBrowser::DisplayName() {
    if (!objectList_)
        return {};
    std::optional<std::string> name;
    if (folderObject_)
        name = folderObject_->GetDisplayNameOf(objectList_.get());
    return name && !name->empty() ? *name : ObjectName();
}

int TShellBrowser::SmallIconIndex() {
    return SystemIconIndex(AbsoluteObjectIDList());
}

std::string TShellBrowser::Filter() const {
    return JoinFilter(patterns_);
}

void TShellBrowser::SetFilter(const std::string& filter) {
    patterns_ = SplitFilter(filter);
}
