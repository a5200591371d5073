// Item id lists in their byte form: items that each begin with a 16-bit little-endian byte
// count (the count's own two bytes included), ended by a count of 0. The empty list (the
// terminator alone) names the desktop. Every list comes from the shell allocator and goes back
// to it; IDListPtr does that for whoever owns a list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace shell {

using LPITEMIDLIST = std::uint8_t*;
using LPCITEMIDLIST = const std::uint8_t*;

// The shell allocator: every id list is allocated and freed here.
class TShellMalloc {
  public:
    // Zero-filled; nullptr when the request cannot be met.
    void* Alloc(std::size_t bytes);
    void Free(void* block);
    // Blocks handed out and not yet freed, for tests that watch ownership.
    long Outstanding() const;
};

TShellMalloc& ShellMalloc();

struct IDListFree {
    void operator()(std::uint8_t* list) const { ShellMalloc().Free(list); }
};
using IDListPtr = std::unique_ptr<std::uint8_t, IDListFree>;

// 0 for a missing list; otherwise 2 plus the sum of the item counts (terminator included).
std::size_t IDListSize(LPCITEMIDLIST list);
// n zero-filled bytes from the shell allocator; empty when it refuses.
IDListPtr AllocIDList(std::size_t n);
// Empty for a missing list; otherwise a new list with the same bytes.
IDListPtr CopyIDList(LPCITEMIDLIST list);
// a's items without a's terminator, then all of b. A missing list counts as the empty list.
IDListPtr ConcatIDLists(LPCITEMIDLIST a, LPCITEMIDLIST b);

// Item access, for the namespace and the browser.
std::uint16_t ItemSize(LPCITEMIDLIST item);  // the count of the item that starts here
bool IsEmptyIDList(LPCITEMIDLIST list);      // a missing list counts as empty
std::size_t ItemCount(LPCITEMIDLIST list);
// The list split before its last item: the items before it, and the last item as a list of
// its own. A list without items gives two empty lists.
struct TSplitIDList {
    IDListPtr parent;
    IDListPtr last;
};
TSplitIDList SplitLastItem(LPCITEMIDLIST list);
// A one-item list whose item holds the given bytes.
IDListPtr MakeItemIDList(std::string_view payload);
// The bytes of an item after its count.
std::string_view ItemPayload(LPCITEMIDLIST item);

}  // namespace shell
