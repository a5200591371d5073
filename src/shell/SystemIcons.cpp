#include "SystemIcons.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

namespace shell {

TIconKey FileTypeKey(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    std::string type(dot == std::string_view::npos || dot == 0 ? fileName : fileName.substr(dot));
    if (dot != std::string_view::npos && dot != 0)
        std::transform(type.begin(), type.end(), type.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    TIconKey key;
    key.fileType = std::move(type);
    return key;
}

TIconKey KindIconKey(TIconKind kind) {
    switch (kind) {
        case TIconKind::Folder:
            return {kind, "folder", {}, {}};
        case TIconKind::Computer:
            return {kind, "computer", {}, {}};
        case TIconKind::Drive:
            return {kind, "drive-harddisk", {}, {}};
        case TIconKind::Desktop:
            return {kind, "user-desktop", "folder", {}};
        case TIconKind::File:
            break;
    }
    return FileTypeKey({});
}

namespace {

struct TTableState {
    mutable std::mutex mutex;
    std::vector<TIconKey> keys;

    TTableState() {
        // The standard kinds come first, so that their indexes are the same in every run.
        for (TIconKind kind : {TIconKind::File, TIconKind::Folder, TIconKind::Computer,
                               TIconKind::Drive, TIconKind::Desktop})
            keys.push_back(KindIconKey(kind));
    }
};

TTableState& State() {
    // Never destroyed: icons may be asked for while the process shuts down.
    static TTableState* state = new TTableState;
    return *state;
}

}  // namespace

int TSystemIconTable::IndexOf(const TIconKey& key) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    for (std::size_t i = 0; i < state.keys.size(); ++i)
        if (state.keys[i] == key)
            return static_cast<int>(i);
    state.keys.push_back(key);
    return static_cast<int>(state.keys.size() - 1);
}

TIconKey TSystemIconTable::KeyAt(int index) const {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= state.keys.size())
        return state.keys.front();
    return state.keys[static_cast<std::size_t>(index)];
}

int TSystemIconTable::Count() const {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(state.keys.size());
}

TSystemIconTable& SystemIconTable() {
    static TSystemIconTable table;
    return table;
}

int SystemIconIndex(LPCITEMIDLIST absolute) {
    TObjectIconInfo info = ObjectIconInfo(absolute);
    TIconKey key =
        info.kind == TIconKind::File ? FileTypeKey(info.fileName) : KindIconKey(info.kind);
    return SystemIconTable().IndexOf(key);
}

int FileTypeIconIndex(std::string_view fileName) {
    return SystemIconTable().IndexOf(FileTypeKey(fileName));
}

int SmallSystemIconSize() {
    return 16;
}

int LargeSystemIconSize() {
    return 32;
}

}  // namespace shell
