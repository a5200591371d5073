// The median of a bench's rounds: the upper middle value of an even count.
#pragma once

#include <algorithm>
#include <vector>

namespace benchsupport {

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace benchsupport
