#include "AddressRows.h"

#include "sys/AsciiText.h"

namespace {

TFavoriteRow AddressRow(const std::string& address) {
    TFavoriteRow row;
    row.Name = address;
    row.URL = address;
    row.Datei = address;
    return row;
}

void ReadAddresses(std::istream& input, std::vector<TFavoriteRow>& rows) {
    for (std::string line; std::getline(input, line);) {
        // A CR LF file leaves its CR at each line's end.
        const std::string address = sys::TrimBlanks(line, sys::kSpaceAndControls);
        if (!address.empty() && address.front() != '#')
            rows.push_back(AddressRow(address));
    }
}

}  // namespace

std::vector<TFavoriteRow> AddressRows(const std::vector<std::string>& args, std::istream& input) {
    std::vector<TFavoriteRow> rows;
    for (const std::string& arg : args) {
        if (arg == "-")
            ReadAddresses(input, rows);
        else
            rows.push_back(AddressRow(arg));
    }
    return rows;
}
