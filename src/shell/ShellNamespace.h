// The shell namespace of this system, standing in for the desktop shell's folders: the desktop
// (the empty id list) holds the virtual "Computer" folder, which holds the file-system root
// "/"; below it every item is one path component. Folder objects parse names into id lists,
// bind sub-folders, compare, enumerate and describe their objects.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "IDList.h"

namespace shell {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

// Object attributes.
constexpr std::uint32_t SFGAO_LINK = 0x00010000;
constexpr std::uint32_t SFGAO_READONLY = 0x00040000;
constexpr std::uint32_t SFGAO_HIDDEN = 0x00080000;
constexpr std::uint32_t SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr std::uint32_t SFGAO_FOLDER = 0x20000000;
constexpr std::uint32_t SFGAO_FILESYSTEM = 0x40000000;
constexpr std::uint32_t SFGAO_HASSUBFOLDER = 0x80000000;

// What an enumeration delivers.
constexpr std::uint32_t SHCONTF_FOLDERS = 0x20;
constexpr std::uint32_t SHCONTF_NONFOLDERS = 0x40;
constexpr std::uint32_t SHCONTF_INCLUDEHIDDEN = 0x80;

class IEnumIDList {
  public:
    virtual ~IEnumIDList() = default;
    // S_OK with the next object's id list (relative to the folder); S_FALSE at the end.
    virtual HRESULT Next(IDListPtr& item) = 0;
};

class IShellFolder {
  public:
    virtual ~IShellFolder() = default;
    // The id list of a name relative to this folder (the desktop and the computer folder take
    // absolute paths); empty when there is no such object.
    virtual IDListPtr ParseDisplayName(const std::string& name) = 0;
    // The folder object of a sub-folder given relative to this folder; empty when it is none.
    virtual std::shared_ptr<IShellFolder> BindToObject(LPCITEMIDLIST relative) = 0;
    // 0 exactly when both relative lists name the same object; otherwise their order.
    virtual int CompareIDs(LPCITEMIDLIST a, LPCITEMIDLIST b) = 0;
    // Empty when the folder cannot be read.
    virtual std::unique_ptr<IEnumIDList> EnumObjects(std::uint32_t flags) = 0;
    // On S_OK, inOut holds those of its bits that the object has.
    virtual HRESULT GetAttributesOf(LPCITEMIDLIST relative, std::uint32_t& inOut) = 0;
    // The name shown for the object; nothing when there is no such object.
    virtual std::optional<std::string> GetDisplayNameOf(LPCITEMIDLIST relative) = 0;
};

// The shared shell objects: started once before any component is used, ended at exit. The
// desktop folder is made on first use as well, so that tools and tests need no start-up.
bool ShellStartup();
void ShellShutdown();
std::shared_ptr<IShellFolder> DesktopFolder();
// The text shown when the shell cannot be started.
inline constexpr const char* kCannotFindShell = "Cannot find Shell!";

// The absolute id list of a special folder (one of the kFolder ids); empty when this system has
// none.
IDListPtr SHGetSpecialFolderLocation(int folderId);
// The file-system path of an absolute id list, without a trailing "/" except for the root;
// nothing for virtual folders. Paths are not limited in length.
std::optional<std::string> SHGetPathFromIDList(LPCITEMIDLIST absolute);
// The absolute id list of an existing absolute path; empty when it does not exist.
IDListPtr IDListOfPath(const std::string& absolutePath);

// What the system image list needs to know about an object to pick its icon.
enum class TIconKind { File, Folder, Computer, Drive, Desktop };
struct TObjectIconInfo {
    TIconKind kind = TIconKind::File;
    std::string fileName;  // for files: the name whose type picks the icon
};
TObjectIconInfo ObjectIconInfo(LPCITEMIDLIST absolute);

}  // namespace shell
