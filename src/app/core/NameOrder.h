// File names in the order a file manager shows them: letter case aside, by the collation of
// the user's locale (LC_COLLATE), with runs of digits compared as numbers ("Seite 2" before
// "Seite 10").
#pragma once

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TNameKey {
  public:
    explicit TNameKey(std::string_view name);
    // Negative, zero or positive as a comes before, with or after b. Names that only the
    // letter case or leading zeros tell apart compare equal here.
    static int Compare(const TNameKey& a, const TNameKey& b);
    // True when the collation in force orders by code point (C, POSIX, C.UTF-8): then names
    // compare without copying their pieces. Asked once per sort.
    static bool CodePointCollation();
    static int Compare(const TNameKey& a, const TNameKey& b, bool codePoints);

  private:
    std::wstring folded_;  // the name's characters, lower-cased
};

// Sorts items by the names that nameOf gives them; names equal in that order keep byte order,
// so the result is the same whatever order the items came in.
template <typename T, typename NameOf>
void SortByName(std::vector<T>& items, NameOf nameOf) {
    const bool codePoints = TNameKey::CodePointCollation();
    std::vector<TNameKey> keys;
    keys.reserve(items.size());
    for (const T& item : items)
        keys.emplace_back(nameOf(item));
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        int c = TNameKey::Compare(keys[a], keys[b], codePoints);
        return c != 0 ? c < 0 : std::string_view(nameOf(items[a])) < nameOf(items[b]);
    });
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}
