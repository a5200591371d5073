#include "RowHeading.h"

std::string RowHeading(const TFavoriteRow& row, std::size_t position, std::size_t total) {
    return "[" + std::to_string(position) + "/" + std::to_string(total) + "] " + row.Pfad +
           row.Name + " <" + row.URL + ">";
}
