#include "RowHeading.h"

std::string RowHeading(const TFavoriteRow& row, std::size_t position, std::size_t total) {
    // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) about a literal put before a
    // temporary string.
    std::string heading = "[";
    heading += std::to_string(position) + "/" + std::to_string(total) + "] ";
    heading += row.Pfad + row.Name + " <" + row.URL + ">";
    return heading;
}
