#include "ShellNamespace.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "sys/UserFolders.h"

namespace shell {

namespace {

// Item payloads: one type byte, then for file-system entries the entry's name.
constexpr char kComputerItem = 'C';
constexpr char kRootItem = 'R';
constexpr char kEntryItem = 'E';

enum class TObjectKind { Invalid, Desktop, Computer, FileSystem };

struct TObject {
    TObjectKind kind = TObjectKind::Invalid;
    std::string path;  // file-system objects only
};

bool IsValidName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// What an absolute id list names, read from its items.
TObject Describe(LPCITEMIDLIST list) {
    TObject object;
    if (IsEmptyIDList(list)) {
        object.kind = TObjectKind::Desktop;
        return object;
    }
    std::size_t index = 0;
    for (LPCITEMIDLIST item = list; !IsEmptyIDList(item); item += ItemSize(item), ++index) {
        std::string_view payload = ItemPayload(item);
        if (index == 0 && payload == std::string_view(&kComputerItem, 1)) {
            object.kind = TObjectKind::Computer;
        } else if (index == 1 && payload == std::string_view(&kRootItem, 1)) {
            object.kind = TObjectKind::FileSystem;
            object.path.assign(1, '/');
        } else if (index > 1 && !payload.empty() && payload[0] == kEntryItem &&
                   IsValidName(payload.substr(1))) {
            object.path = JoinPath(object.path, payload.substr(1));
        } else {
            return {};
        }
    }
    return object;
}

// One allocation for a whole list of item payloads.
IDListPtr BuildIDList(const std::vector<std::string>& payloads) {
    std::size_t bytes = 2;
    for (const auto& payload : payloads) {
        if (payload.size() > 0xFFFD)
            return nullptr;
        bytes += payload.size() + 2;
    }
    IDListPtr list = AllocIDList(bytes);
    if (!list)
        return nullptr;
    std::uint8_t* at = list.get();
    for (const auto& payload : payloads) {
        std::size_t count = payload.size() + 2;
        at[0] = static_cast<std::uint8_t>(count & 0xFF);
        at[1] = static_cast<std::uint8_t>(count >> 8);
        std::memcpy(at + 2, payload.data(), payload.size());
        at += count;
    }
    return list;
}

std::string EntryPayload(std::string_view name) {
    std::string payload(1, kEntryItem);
    payload += name;
    return payload;
}

// Splits a path into its names; "." goes, ".." takes back the name before it. Nothing when
// ".." would climb above the start of a relative path.
std::optional<std::vector<std::string>> PathNames(std::string_view text, bool absolute) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
            else if (!absolute)
                return std::nullopt;
            continue;
        }
        if (name.find('\0') != std::string_view::npos)
            return std::nullopt;
        names.emplace_back(name);
    }
    return names;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::shared_ptr<IShellFolder> FolderOfIDList(LPCITEMIDLIST absolute);

class TSingleItemEnum : public IEnumIDList {
  public:
    explicit TSingleItemEnum(IDListPtr item) : item_(std::move(item)) {}
    HRESULT Next(IDListPtr& item) override {
        if (!item_)
            return S_FALSE;
        item = std::move(item_);
        return S_OK;
    }

  private:
    IDListPtr item_;
};

class TDirectoryEnum : public IEnumIDList {
  public:
    TDirectoryEnum(DIR* dir, std::string path, std::uint32_t flags)
        : dir_(dir), path_(std::move(path)), flags_(flags) {}
    ~TDirectoryEnum() override { closedir(dir_); }

    HRESULT Next(IDListPtr& item) override {
        while (dirent* entry = readdir(dir_)) {
            std::string_view name = entry->d_name;
            if (!IsValidName(name) || !Wanted(*entry))
                continue;
            item = MakeItemIDList(EntryPayload(name));
            if (item)
                return S_OK;
        }
        return S_FALSE;
    }

  private:
    bool Wanted(const dirent& entry) const {
        if (entry.d_name[0] == '.' && !(flags_ & SHCONTF_INCLUDEHIDDEN))
            return false;
        bool folders = flags_ & SHCONTF_FOLDERS, others = flags_ & SHCONTF_NONFOLDERS;
        if (folders && others)
            return true;
        bool isFolder = entry.d_type == DT_DIR;
        if (entry.d_type == DT_LNK || entry.d_type == DT_UNKNOWN)
            isFolder = IsDirectory(JoinPath(path_, entry.d_name));
        return isFolder ? folders : others;
    }

    DIR* dir_;
    std::string path_;
    std::uint32_t flags_;
};

// One folder of the namespace, known by its absolute id list.
class TNamespaceFolder : public IShellFolder {
  public:
    TNamespaceFolder(IDListPtr absolute, TObject self)
        : absolute_(std::move(absolute)), self_(std::move(self)) {}

    IDListPtr ParseDisplayName(const std::string& name) override {
        bool absolutePath = !name.empty() && name[0] == '/';
        if (self_.kind == TObjectKind::FileSystem ? absolutePath : !absolutePath)
            return nullptr;
        auto names = PathNames(name, absolutePath);
        if (!names || (!absolutePath && names->empty()))
            return nullptr;
        std::string path = absolutePath ? "/" : self_.path;
        std::vector<std::string> payloads;
        if (self_.kind == TObjectKind::Desktop)
            payloads.emplace_back(1, kComputerItem);
        if (absolutePath)
            payloads.emplace_back(1, kRootItem);
        for (const auto& each : *names) {
            path = JoinPath(path, each);
            payloads.push_back(EntryPayload(each));
        }
        return Exists(path) ? BuildIDList(payloads) : nullptr;
    }

    std::shared_ptr<IShellFolder> BindToObject(LPCITEMIDLIST relative) override {
        if (IsEmptyIDList(relative))
            return nullptr;
        IDListPtr absolute = ConcatIDLists(absolute_.get(), relative);
        return absolute ? FolderOfIDList(absolute.get()) : nullptr;
    }

    int CompareIDs(LPCITEMIDLIST a, LPCITEMIDLIST b) override {
        std::size_t aSize = IDListSize(a), bSize = IDListSize(b);
        std::size_t common = std::min(aSize, bSize);
        int order = common ? std::memcmp(a, b, common) : 0;
        if (order == 0)
            order = aSize < bSize ? -1 : aSize > bSize ? 1 : 0;
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    }

    std::unique_ptr<IEnumIDList> EnumObjects(std::uint32_t flags) override {
        switch (self_.kind) {
            case TObjectKind::Desktop:
            case TObjectKind::Computer: {
                if (!(flags & SHCONTF_FOLDERS))
                    return std::make_unique<TSingleItemEnum>(nullptr);
                char type = self_.kind == TObjectKind::Desktop ? kComputerItem : kRootItem;
                return std::make_unique<TSingleItemEnum>(MakeItemIDList(std::string(1, type)));
            }
            case TObjectKind::FileSystem: {
                DIR* dir = opendir(self_.path.c_str());
                if (!dir)
                    return nullptr;
                return std::make_unique<TDirectoryEnum>(dir, self_.path, flags);
            }
            default:
                return nullptr;
        }
    }

    HRESULT GetAttributesOf(LPCITEMIDLIST relative, std::uint32_t& inOut) override {
        IDListPtr absolute = ConcatIDLists(absolute_.get(), relative);
        TObject object = Describe(absolute.get());
        std::uint32_t attributes = 0;
        switch (object.kind) {
            case TObjectKind::Computer:
                attributes = SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
                break;
            case TObjectKind::FileSystem:
                if (!FileSystemAttributes(object.path, attributes))
                    return E_FAIL;
                break;
            default:
                return E_FAIL;
        }
        inOut &= attributes;
        return S_OK;
    }

    std::optional<std::string> GetDisplayNameOf(LPCITEMIDLIST relative) override {
        IDListPtr absolute = ConcatIDLists(absolute_.get(), relative);
        TObject object = Describe(absolute.get());
        switch (object.kind) {
            case TObjectKind::Desktop:
                return "Desktop";
            case TObjectKind::Computer:
                return "Computer";
            case TObjectKind::FileSystem:
                if (!Exists(object.path))
                    return std::nullopt;
                return object.path == "/" ? object.path
                                          : object.path.substr(object.path.rfind('/') + 1);
            default:
                return std::nullopt;
        }
    }

  private:
    static bool FileSystemAttributes(const std::string& path, std::uint32_t& attributes) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            return false;
        attributes = SFGAO_FILESYSTEM;
        if (S_ISLNK(st.st_mode)) {
            attributes |= SFGAO_LINK;
            if (stat(path.c_str(), &st) != 0)
                return true;  // a dangling link is a file-system object of its own
        }
        if (S_ISDIR(st.st_mode))
            attributes |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
        // The mode bits, not what this user may do: read-only is what the entry is, for root
        // as for anyone.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            attributes |= SFGAO_READONLY;
        if (path.size() > 1 && path[path.rfind('/') + 1] == '.')
            attributes |= SFGAO_HIDDEN;
        return true;
    }

    IDListPtr absolute_;
    TObject self_;
};

std::shared_ptr<IShellFolder> FolderOfIDList(LPCITEMIDLIST absolute) {
    TObject object = Describe(absolute);
    if (object.kind == TObjectKind::Invalid)
        return nullptr;
    if (object.kind == TObjectKind::FileSystem && !IsDirectory(object.path))
        return nullptr;
    IDListPtr copy = CopyIDList(absolute);
    if (!copy)
        return nullptr;
    return std::make_shared<TNamespaceFolder>(std::move(copy), std::move(object));
}

struct TSharedShell {
    std::mutex mutex;
    std::shared_ptr<IShellFolder> desktop;
};

TSharedShell& Shared() {
    static TSharedShell shared;
    return shared;
}

}  // namespace

bool ShellStartup() {
    return DesktopFolder() != nullptr;
}

void ShellShutdown() {
    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.desktop.reset();
}

std::shared_ptr<IShellFolder> DesktopFolder() {
    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    if (!shared.desktop)
        shared.desktop = FolderOfIDList(AllocIDList(2).get());
    return shared.desktop;
}

IDListPtr SHGetSpecialFolderLocation(int folderId) {
    if (folderId == sys::kFolderDesktop)
        return AllocIDList(2);
    if (folderId == sys::kFolderDrives)
        return MakeItemIDList(std::string(1, kComputerItem));
    auto path = sys::SpecialFolderPath(folderId);
    return path ? IDListOfPath(*path) : nullptr;
}

std::optional<std::string> SHGetPathFromIDList(LPCITEMIDLIST absolute) {
    if (!absolute)
        return std::nullopt;
    TObject object = Describe(absolute);
    if (object.kind != TObjectKind::FileSystem)
        return std::nullopt;
    return object.path;
}

IDListPtr IDListOfPath(const std::string& absolutePath) {
    auto desktop = DesktopFolder();
    return desktop ? desktop->ParseDisplayName(absolutePath) : nullptr;
}

TObjectIconInfo ObjectIconInfo(LPCITEMIDLIST absolute) {
    TObject object = Describe(absolute);
    switch (object.kind) {
        case TObjectKind::Desktop:
            return {TIconKind::Desktop, {}};
        case TObjectKind::Computer:
            return {TIconKind::Computer, {}};
        case TObjectKind::FileSystem:
            if (object.path == "/")
                return {TIconKind::Drive, {}};
            if (IsDirectory(object.path))
                return {TIconKind::Folder, {}};
            return {TIconKind::File, object.path.substr(object.path.rfind('/') + 1)};
        default:
            return {TIconKind::File, {}};
    }
}

}  // namespace shell
