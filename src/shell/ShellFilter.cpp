#include "ShellFilter.h"

#include "sys/AsciiText.h"

namespace shell {

namespace {

using sys::UpperAscii;

}  // namespace

bool MatchPattern(std::string_view name, std::string_view pattern) {
    // next[j]: does name[i+1..] match pattern[j..]; row[j]: the same for name[i..]. Filled from
    // the ends backwards, which is the recursion unrolled without its exponential re-tries.
    const std::size_t n = name.size(), m = pattern.size();
    auto restIsStar = [&](std::size_t j) { return j + 1 == m && pattern[j] == '*'; };
    std::vector<char> next(m + 1), row(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        next[j] = restIsStar(j) || j == m;  // the used-up name
    for (std::size_t i = n; i-- > 0;) {
        row[m] = false;  // a used-up pattern against a remaining name
        for (std::size_t j = m; j-- > 0;) {
            if (restIsStar(j))
                row[j] = true;
            else if (pattern[j] == '*')
                row[j] = row[j + 1] || next[j];
            else if (pattern[j] == '?' || UpperAscii(pattern[j]) == UpperAscii(name[i]))
                row[j] = next[j + 1];
            else
                row[j] = false;
        }
        std::swap(row, next);
    }
    return next[0];
}

std::vector<std::string> SplitFilter(std::string_view text) {
    std::string full(text.empty() ? "*;" : text);
    if (full.back() != ';')
        full += ';';
    std::vector<std::string> patterns;
    std::size_t start = 0;
    for (std::size_t cut = full.find(';'); cut != std::string::npos; cut = full.find(';', start)) {
        patterns.push_back(full.substr(start, cut - start));
        start = cut + 1;
    }
    return patterns;
}

std::string JoinFilter(const std::vector<std::string>& patterns) {
    std::string text;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (i > 0)
            text += ';';
        text += patterns[i];
    }
    return text;
}

}  // namespace shell
