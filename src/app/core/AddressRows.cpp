#include "AddressRows.h"

namespace {

TFavoriteRow AddressRow(const std::string& address) {
    TFavoriteRow row;
    row.Name = address;
    row.URL = address;
    row.Datei = address;
    return row;
}

std::string Trimmed(const std::string& line) {
    const char* blanks = " \t\r\n\v\f";
    const std::size_t first = line.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

void ReadAddresses(std::istream& input, std::vector<TFavoriteRow>& rows) {
    for (std::string line; std::getline(input, line);) {
        const std::string address = Trimmed(line);
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
