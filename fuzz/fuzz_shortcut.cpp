// Feeds arbitrary bytes as a shortcut file (".url" and ".desktop") to the reader of its address,
// from memory and from a file on disk: it ends, both reads agree, and an address found is never
// empty and never holds CR, LF or NUL (it goes into a request line). The same bytes go to the
// UTF-7 decoder and, as a file name, to the name order, which must find a name equal to itself.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/NameOrder.h"
#include "app/core/ProfileText.h"
#include "app/core/ShortcutAddress.h"
#include "app/core/ShortcutFile.h"

namespace {

void CheckAddress(const TShortcut& shortcut) {
    if (shortcut.State != TShortcutState::Address)
        return;
    if (shortcut.Address.empty() ||
        shortcut.Address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        __builtin_trap();
    IsWebAddress(shortcut.Address);
}

bool Same(const TShortcut& a, const TShortcut& b) {
    return a.State == b.State && a.Address == b.Address;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int fd = memfd_create("favourite", 0);
    const bool written =
        fd >= 0 && (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (TShortcutKind kind : {TShortcutKind::Url, TShortcutKind::Desktop}) {
        const TShortcut fromBytes = ShortcutIn(bytes, kind);
        CheckAddress(fromBytes);
        if (written && size < (1u << 20) &&
            !Same(fromBytes, ReadShortcutAt(AT_FDCWD, path.c_str(), kind, false)))
            __builtin_trap();
    }
    if (fd >= 0)
        close(fd);
    DecodeUtf7(bytes);
    const TNameKey key(bytes);
    if (TNameKey::Compare(key, key) != 0)
        __builtin_trap();
    return 0;
}
