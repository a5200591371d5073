// Rows for addresses given to quorvane-check instead of the favourites: on its command line,
// or one per line on standard input for "-".
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "FavoriteList.h"

// A row per address, in the order given. An address row is named by its address, which is
// also its identity in a result file; its folder is empty. "-" reads the lines of input:
// blanks around a line, blank lines and lines starting with "#" are left out, and a CR before
// the line end too.
std::vector<TFavoriteRow> AddressRows(const std::vector<std::string>& args, std::istream& input);
