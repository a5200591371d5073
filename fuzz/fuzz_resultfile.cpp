// Feeds arbitrary bytes as a result file: the reader must end with its own error or with the
// rows restored, and never take more memory for a text than the file holds (a hostile length
// prefix is the danger).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "app/core/ResultFile.h"

namespace {

// While set, no single allocation may ask for more than this many bytes: the reader must grow
// its texts with what the file holds, not with what a length prefix claims.
std::size_t allocationLimit = 0;

class TAllocationLimit {
  public:
    explicit TAllocationLimit(std::size_t bytes) { allocationLimit = bytes; }
    ~TAllocationLimit() { allocationLimit = 0; }
};

}  // namespace

// Every form of new and delete goes to malloc and free, so that what one form allocates any
// other may free (the fuzzing engine mixes them).
static void* Allocate(std::size_t size) noexcept {
    if (allocationLimit != 0 && size > allocationLimit)
        __builtin_trap();
    return std::malloc(size ? size : 1);
}

void* operator new(std::size_t size) {
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// Reads texts one after the other until the bytes run out; their sizes together can never
// pass the size of the input.
void ReadTexts(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file)
        return;
    std::size_t total = 0;
    // Room for the reader's own step and a string's doubling beside the bytes of the input.
    const TAllocationLimit limit(2 * size + 128 * 1024);
    try {
        for (;;) {
            total += ReadStr(file).size();
            if (total > size)
                __builtin_trap();
        }
    } catch (const std::exception&) {
    }
    std::fclose(file);
}

// The whole reader on a file with these bytes, against a list with a few rows.
void Restore(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("urls.dat", 0);
    if (fd < 0)
        return;
    if (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) {
        TFavoriteList list;
        for (const char* path : {"/fav/a.url", "/fav/b.url", ""}) {
            TFavoriteRow row;
            row.Datei = path;
            list.Append(row);
        }
        try {
            OpenURLs(list, "/proc/self/fd/" + std::to_string(fd));
        } catch (const std::exception&) {
        }
        for (const auto& row : list.Rows())
            if (row.Datum.size() > size && row.Datum != "???")
                __builtin_trap();
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReadTexts(data, size);
    Restore(data, size);
    return 0;
}
