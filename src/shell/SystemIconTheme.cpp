#include "SystemIconTheme.h"

#include <QAbstractFileIconProvider>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <mutex>
#include <optional>
#include <vector>

namespace shell {

namespace {

struct TFallbackState {
    std::mutex mutex;
    TFallbackIconProvider provider;
};

TFallbackState& Fallback() {
    // Never destroyed: icons may be asked for while the process shuts down.
    static TFallbackState* state = new TFallbackState;
    return *state;
}

TFallbackIconProvider CurrentFallback() {
    auto& state = Fallback();
    std::lock_guard lock(state.mutex);
    return state.provider;
}

QAbstractFileIconProvider::IconType ProviderType(TIconKind kind) {
    switch (kind) {
        case TIconKind::Folder:
            return QAbstractFileIconProvider::Folder;
        case TIconKind::Computer:
            return QAbstractFileIconProvider::Computer;
        case TIconKind::Drive:
            return QAbstractFileIconProvider::Drive;
        case TIconKind::Desktop:
            return QAbstractFileIconProvider::Desktop;
        case TIconKind::File:
            break;
    }
    return QAbstractFileIconProvider::File;
}

// A file key names its type as the file name shows it; the MIME database gives its icon names.
TIconKey WithIconNames(TIconKey key) {
    if (key.kind != TIconKind::File || !key.iconName.empty())
        return key;
    QMimeDatabase mimes;
    // An extension alone is no file name the database matches; any stem makes it one.
    const std::string probe = key.fileType.starts_with('.') ? "file" + key.fileType : key.fileType;
    QMimeType type =
        probe.empty()
            ? mimes.mimeTypeForName(QStringLiteral("application/octet-stream"))
            : mimes.mimeTypeForFile(QString::fromStdString(probe), QMimeDatabase::MatchExtension);
    key.iconName = type.iconName().toStdString();
    key.genericIconName = type.genericIconName().toStdString();
    return key;
}

// The key of an index with its icon names, looked up once per index: the list asks at every
// paint of a row, and an index never changes what it stands for once given.
TIconKey NamedKeyAt(int index) {
    if (index < 0 || index >= SystemIconTable().Count())
        return WithIconNames(SystemIconTable().KeyAt(index));  // the unknown file, not kept
    static std::mutex mutex;
    static auto* named = new std::vector<std::optional<TIconKey>>;  // never destroyed, as above
    std::lock_guard lock(mutex);
    const auto slot = static_cast<std::size_t>(index);
    if (slot >= named->size())
        named->resize(slot + 1);
    std::optional<TIconKey>& key = (*named)[slot];
    if (!key)
        key = WithIconNames(SystemIconTable().KeyAt(index));
    return *key;
}

QIcon ThemeIcon(const std::string& name) {
    return name.empty() ? QIcon() : QIcon::fromTheme(QString::fromStdString(name));
}

}  // namespace

void SetFallbackIconProvider(TFallbackIconProvider provider) {
    auto& state = Fallback();
    std::lock_guard lock(state.mutex);
    state.provider = std::move(provider);
}

QIcon SystemIcon(int index) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    TIconKey key = NamedKeyAt(index);
    QIcon icon = ThemeIcon(key.iconName);
    if (icon.isNull())
        icon = ThemeIcon(key.genericIconName);
    if (icon.isNull())
        icon = ThemeIcon(WithIconNames(KindIconKey(key.kind)).iconName);
    if (icon.isNull()) {
        if (TFallbackIconProvider fallback = CurrentFallback())
            icon = fallback(key.kind);
    }
    if (icon.isNull())
        icon = QAbstractFileIconProvider().icon(ProviderType(key.kind));
    return icon;
}

}  // namespace shell
