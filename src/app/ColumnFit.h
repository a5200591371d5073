// The list's columns and the width of a wide window: the room the columns leave free goes to
// the columns that can use it (name, status, address), and a narrower window takes back what
// they were given, never what the user or the stored settings set. A column the user resizes
// keeps the width the user gave it.
#pragma once

#include <vector>

struct TColumnFit {
    std::vector<int> widths;  // of every column
    std::vector<int> given;   // the part of each width that came from fitting
};

// The columns fitted to available pixels; weights say how the room is shared (0: a column that
// keeps its width).
TColumnFit FitColumns(TColumnFit columns, const std::vector<int>& weights, int available);
