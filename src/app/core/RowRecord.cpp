#include "RowRecord.h"

#include <cstdio>

#include "RowText.h"

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at text[at], or 0 when none starts there.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

std::string CsvField(std::string_view text) {
    const std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos)
        return valid;
    std::string quoted = "\"";
    for (char c : valid) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

bool Digits(std::string_view text, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// Two digits at text[at] that make a number from low to high.
bool TwoDigitsWithin(std::string_view text, std::size_t at, int low, int high) {
    if (!Digits(text, at, 2))
        return false;
    const int value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return value >= low && value <= high;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = SequenceLength(text, at)) {
            valid.append(text.substr(at, length));
            at += length;
        } else {
            valid += kReplacement;
            ++at;
        }
    }
    return valid;
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (char c : ValidUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + '"';
}

std::optional<std::string> IsoDate(std::string_view datum) {
    // "YYYY/MM/DD; HH:MM:SS GMT", cut from a server's header unchecked: digits that name no
    // moment make no date (60 seconds is a leap second).
    if (datum.size() != 24 || !Digits(datum, 0, 4) || datum[4] != '/' ||
        !TwoDigitsWithin(datum, 5, 1, 12) || datum[7] != '/' || !TwoDigitsWithin(datum, 8, 1, 31) ||
        datum.substr(10, 2) != "; " || !TwoDigitsWithin(datum, 12, 0, 23) || datum[14] != ':' ||
        !TwoDigitsWithin(datum, 15, 0, 59) || datum[17] != ':' ||
        !TwoDigitsWithin(datum, 18, 0, 60) || datum.substr(20) != " GMT")
        return std::nullopt;
    std::string iso(datum.substr(0, 10));
    iso[4] = iso[7] = '-';
    return iso + "T" + std::string(datum.substr(12, 8)) + "Z";
}

TRowRecord RecordOf(const TFavoriteRow& row, const TRowReport& report) {
    TRowRecord record;
    record.File = row.Datei;
    record.Folder = row.Pfad;
    if (record.Folder.ends_with('/'))
        record.Folder.pop_back();
    record.Name = row.Name;
    record.Url = row.URL;
    record.Verdict = rowtext::IsUnchecked(row.Datum) ? std::string(rowtext::kUnchecked) : row.Datum;
    record.Status = report.Status;
    record.Reason = report.Reason;
    record.FinalUrl = report.FinalUrl.empty() ? row.URL : report.FinalUrl;
    record.LastModified = IsoDate(row.Datum);
    record.Ms = report.Took.count();
    return record;
}

std::string JsonRecord(const TRowRecord& r) {
    const auto text = [](const char* key, std::string_view value) {
        return std::string("\"") + key + "\":" + JsonString(value);
    };
    std::string json = "{";  // not "{" + ...: see RowHeading.cpp
    return json + text("file", r.File) + "," + text("folder", r.Folder) + "," +
           text("name", r.Name) + "," + text("url", r.Url) + "," + text("verdict", r.Verdict) +
           ",\"status\":" + (r.Status ? std::to_string(*r.Status) : "null") + "," +
           text("reason", r.Reason) + "," + text("final_url", r.FinalUrl) +
           ",\"last_modified\":" + (r.LastModified ? JsonString(*r.LastModified) : "null") +
           ",\"ms\":" + std::to_string(r.Ms) + "}";
}

std::string CsvHeader() {
    return "file,folder,name,url,verdict,status,reason,final_url,last_modified,ms\r\n";
}

std::string CsvRecord(const TRowRecord& r) {
    return CsvField(r.File) + "," + CsvField(r.Folder) + "," + CsvField(r.Name) + "," +
           CsvField(r.Url) + "," + CsvField(r.Verdict) + "," +
           (r.Status ? std::to_string(*r.Status) : "") + "," + CsvField(r.Reason) + "," +
           CsvField(r.FinalUrl) + "," + (r.LastModified ? *r.LastModified : "") + "," +
           std::to_string(r.Ms) + "\r\n";
}
