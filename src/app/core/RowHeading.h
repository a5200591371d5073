// The line that opens a row's log block, in the window's log and in quorvane-check's output
// alike: "[3/12] Ordner/Name <https://...>".
#pragma once

#include <cstddef>
#include <string>

#include "FavoriteList.h"

std::string RowHeading(const TFavoriteRow& row, std::size_t position, std::size_t total);
