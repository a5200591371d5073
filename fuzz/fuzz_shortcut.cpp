// Feeds arbitrary bytes as an Internet shortcut file to the readers of its address: whatever a
// file on disk holds, the address they find is taken from it (or there is none), and they end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/ShortcutAddress.h"
#include "app/core/ShortcutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("favourite.url", 0);
    if (fd < 0)
        return 0;
    if (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const std::string_view bytes(reinterpret_cast<const char*>(data), size);
        if (const auto base = ReadBaseURL(path);
            base && bytes.find(*base) == std::string_view::npos)
            __builtin_trap();
        const std::string address = ReadShortcutAddress(path);
        if (bytes.find(address) == std::string_view::npos)
            __builtin_trap();
        IsWebAddress(address);
    }
    close(fd);
    return 0;
}
