#include "IDList.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace shell {

namespace {

std::atomic<long> outstanding{0};

}  // namespace

void* TShellMalloc::Alloc(std::size_t bytes) {
    void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block)
        ++outstanding;
    return block;
}

void TShellMalloc::Free(void* block) {
    if (!block)
        return;
    --outstanding;
    std::free(block);
}

long TShellMalloc::Outstanding() const {
    return outstanding.load();
}

TShellMalloc& ShellMalloc() {
    static TShellMalloc allocator;
    return allocator;
}

std::uint16_t ItemSize(LPCITEMIDLIST item) {
    return static_cast<std::uint16_t>(item[0] | (item[1] << 8));
}

namespace {

// Items with a count below 2 cannot hold their own count; they end the list like the
// terminator, so that a damaged list is never walked past its end.
LPCITEMIDLIST NextItem(LPCITEMIDLIST item) {
    return item + ItemSize(item);
}

bool AtEnd(LPCITEMIDLIST item) {
    return ItemSize(item) < 2;
}

// Bytes of the items, without the terminator.
std::size_t ItemsBytes(LPCITEMIDLIST list) {
    std::size_t bytes = 0;
    for (LPCITEMIDLIST item = list; list && !AtEnd(item); item = NextItem(item))
        bytes += ItemSize(item);
    return bytes;
}

}  // namespace

std::size_t IDListSize(LPCITEMIDLIST list) {
    return list ? ItemsBytes(list) + 2 : 0;
}

IDListPtr AllocIDList(std::size_t n) {
    return IDListPtr(static_cast<std::uint8_t*>(ShellMalloc().Alloc(n)));
}

IDListPtr CopyIDList(LPCITEMIDLIST list) {
    if (!list)
        return nullptr;
    std::size_t size = IDListSize(list);
    IDListPtr copy = AllocIDList(size);
    if (copy)
        std::memcpy(copy.get(), list, size - 2);  // the terminator is zero already
    return copy;
}

IDListPtr ConcatIDLists(LPCITEMIDLIST a, LPCITEMIDLIST b) {
    std::size_t aBytes = ItemsBytes(a);
    std::size_t bBytes = ItemsBytes(b);
    IDListPtr joined = AllocIDList(aBytes + bBytes + 2);
    if (!joined)
        return nullptr;
    if (aBytes)
        std::memcpy(joined.get(), a, aBytes);
    if (bBytes)
        std::memcpy(joined.get() + aBytes, b, bBytes);
    return joined;
}

bool IsEmptyIDList(LPCITEMIDLIST list) {
    return !list || AtEnd(list);
}

std::size_t ItemCount(LPCITEMIDLIST list) {
    std::size_t count = 0;
    for (LPCITEMIDLIST item = list; list && !AtEnd(item); item = NextItem(item))
        ++count;
    return count;
}

TSplitIDList SplitLastItem(LPCITEMIDLIST list) {
    LPCITEMIDLIST last = nullptr;
    for (LPCITEMIDLIST item = list; list && !AtEnd(item); item = NextItem(item))
        last = item;
    if (!last)
        return {AllocIDList(2), AllocIDList(2)};
    std::size_t before = static_cast<std::size_t>(last - list);
    TSplitIDList split{AllocIDList(before + 2), AllocIDList(ItemSize(last) + 2)};
    if (split.parent && before)
        std::memcpy(split.parent.get(), list, before);
    if (split.last)
        std::memcpy(split.last.get(), last, ItemSize(last));
    return split;
}

IDListPtr MakeItemIDList(std::string_view payload) {
    if (payload.size() > std::numeric_limits<std::uint16_t>::max() - 2u)
        return nullptr;
    std::size_t count = payload.size() + 2;
    IDListPtr list = AllocIDList(count + 2);
    if (!list)
        return nullptr;
    list.get()[0] = static_cast<std::uint8_t>(count & 0xFF);
    list.get()[1] = static_cast<std::uint8_t>(count >> 8);
    std::memcpy(list.get() + 2, payload.data(), payload.size());
    return list;
}

std::string_view ItemPayload(LPCITEMIDLIST item) {
    if (AtEnd(item))
        return {};
    return {reinterpret_cast<const char*>(item) + 2, static_cast<std::size_t>(ItemSize(item) - 2)};
}

}  // namespace shell
