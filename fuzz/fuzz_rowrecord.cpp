// Feeds arbitrary bytes as the texts of a checked row (a shortcut's name and address, a
// server's reason phrase and relocation, a stored date) to the JSON Lines and CSV records of
// quorvane-check: whatever the bytes, a JSON record is one line that a JSON parser reads back
// to the same texts made valid UTF-8, a CSV record reads back to them too, and a date in ISO
// 8601 names a real moment.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/RowRecord.h"

namespace {

// The input cut at NUL bytes into texts, as many as there are.
std::vector<std::string> Texts(std::string_view data, std::size_t count) {
    std::vector<std::string> texts(count);
    for (std::size_t i = 0; i < count && !data.empty(); ++i) {
        const std::size_t end = data.find('\0');
        texts[i] = std::string(data.substr(0, end));
        data = end == std::string_view::npos ? std::string_view() : data.substr(end + 1);
    }
    return texts;
}

// One RFC 4180 record with its CR LF; traps on anything else.
std::vector<std::string> ReadCsv(std::string_view text) {
    if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n")
        __builtin_trap();
    text.remove_suffix(2);
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted)
        __builtin_trap();
    return fields;
}

void Expect(bool condition) {
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> texts =
        Texts(std::string_view(reinterpret_cast<const char*>(data), size), 8);
    TRowRecord record{texts[0], texts[1], texts[2], texts[3],          texts[4],
                      404,      texts[5], texts[6], IsoDate(texts[7]), 12};

    const std::string json = JsonRecord(record);
    Expect(json.find('\n') == std::string::npos);
    const nlohmann::json parsed = nlohmann::json::parse(json);  // throws on a bad record
    Expect(parsed.at("file") == ValidUtf8(record.File));
    Expect(parsed.at("name") == ValidUtf8(record.Name));
    Expect(parsed.at("reason") == ValidUtf8(record.Reason));
    Expect(parsed.at("final_url") == ValidUtf8(record.FinalUrl));

    const std::vector<std::string> fields = ReadCsv(CsvRecord(record));
    Expect(fields.size() == 10);
    const std::string* sources[] = {&record.File, &record.Folder, &record.Name, &record.Url,
                                    &record.Verdict};
    for (std::size_t i = 0; i < std::size(sources); ++i)
        Expect(fields[i] == ValidUtf8(*sources[i]));

    if (record.LastModified) {
        const std::string& iso = *record.LastModified;
        Expect(iso.size() == 20 && iso[4] == '-' && iso[10] == 'T' && iso.back() == 'Z');
        const int month = std::stoi(iso.substr(5, 2)), day = std::stoi(iso.substr(8, 2));
        Expect(month >= 1 && month <= 12 && day >= 1 && day <= 31);
    }
    return 0;
}
