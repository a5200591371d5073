// A checked row as one record for scripts: the JSON Lines and CSV output of quorvane-check.
// Every text comes out as valid UTF-8 whatever bytes a shortcut or a server gave.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "CheckInterfaces.h"
#include "FavoriteList.h"

struct TRowRecord {
    std::string File;    // the shortcut file or "SOURCE#ID" of a bookmark
    std::string Folder;  // the row's folder, without a trailing slash
    std::string Name;
    std::string Url;
    std::string Verdict;  // the row's text: "OK", the date, "FAILED", "BLOCKED", "SKIPPED", "???"
    std::optional<int> Status;
    std::string Reason;
    std::string FinalUrl;
    std::optional<std::string> LastModified;  // ISO 8601, when the verdict is a date
    std::int64_t Ms = 0;
};

TRowRecord RecordOf(const TFavoriteRow& row, const TRowReport& report);

// {"file":...,"ms":12}: the keys in the order of TRowRecord, without a line end.
std::string JsonRecord(const TRowRecord& record);
// The CSV header and a record (RFC 4180), each with its CR LF.
std::string CsvHeader();
std::string CsvRecord(const TRowRecord& record);

// The text with every byte that is no part of a valid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);
// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);
// "2002/10/09; 10:10:10 GMT" as "2002-10-09T10:10:10Z"; nothing for any other text.
std::optional<std::string> IsoDate(std::string_view datum);
