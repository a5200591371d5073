// quorvane-check for scripts: its JSON Lines and CSV records read back as a script reads them,
// addresses given on the command line or on standard input, and colours only for a person.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "QuorvaneCheckFixture.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const std::vector<std::string> kKeys = {"file",   "folder", "name",      "url",           "verdict",
                                        "status", "reason", "final_url", "last_modified", "ms"};

// A record with every value as text; "null" for JSON's null and for CSV's empty status and
// date. The time a row took is checked apart and left out.
using TRecord = std::map<std::string, std::string>;

// The request target of what a connection received (one request each: HTTP/1.0 closes).
std::string Target(const std::string& received) {
    const std::size_t space = received.find(' ') + 1;
    return received.substr(space, received.find(' ', space) - space);
}

// A server that answers by the path asked for.
testsupport::TScript Router() {
    testsupport::TScript script;
    script.ReadRequest().Reply([](const std::string& received) -> std::string {
        const std::string target = Target(received);
        if (target == "/dated")
            return "HTTP/1.0 200 OK\r\nLast-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\n\r\n";
        if (target == "/gone")
            return "HTTP/1.0 404 Not Found\r\n\r\n";
        if (target == "/login")
            return "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n";
        if (target == "/moved")
            return "HTTP/1.0 301 Moved Permanently\r\nLocation: /target\r\n\r\n";
        return "HTTP/1.0 200 OK\r\n\r\n";
    });
    return script;
}

TRecord FromJson(const std::string& line) {
    const nlohmann::json object = nlohmann::json::parse(line);  // raises for invalid UTF-8
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    EXPECT_THAT(keys, testing::UnorderedElementsAreArray(kKeys)) << line;
    EXPECT_TRUE(object.at("ms").is_number_unsigned()) << line;
    TRecord record;
    for (const auto& item : object.items()) {
        if (item.key() == "ms")
            continue;
        const auto& value = item.value();
        record[item.key()] = value.is_null()     ? "null"
                             : value.is_string() ? value.get<std::string>()
                                                 : value.dump();
    }
    return record;
}

// The rows of an RFC 4180 text: fields split at commas, quoted fields with doubled quotes and
// line ends inside, each row ended by CR LF.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            EXPECT_NE(c, '\n') << "a bare line feed ends no CSV row";
            field += c;
        }
    }
    EXPECT_EQ(rows.back(), std::vector<std::string>(1)) << "the text ends with a row's CR LF";
    rows.pop_back();
    return rows;
}

std::vector<TRecord> FromCsv(const std::string& text) {
    const auto rows = ReadCsv(text);
    std::vector<TRecord> records;
    if (rows.empty()) {
        ADD_FAILURE() << "no header";
        return records;
    }
    EXPECT_EQ(rows[0], kKeys);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), kKeys.size());
        TRecord record;
        for (std::size_t i = 0; i < rows[r].size() && i < kKeys.size(); ++i) {
            std::string value = rows[r][i];
            if (value.empty() && (kKeys[i] == "status" || kKeys[i] == "last_modified"))
                value = "null";
            if (kKeys[i] == "ms")
                EXPECT_EQ(value.find_first_not_of("0123456789"), std::string::npos) << value;
            else
                record[kKeys[i]] = value;
        }
        records.push_back(record);
    }
    return records;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

class QuorvaneCheckFormatTest : public QuorvaneCheckTest {
  protected:
    // A shortcut in the home's Favorites folder; its path.
    std::string Shortcut(const std::string& file, const std::string& url) {
        return dir.Write("home/Favorites/" + file, "[InternetShortcut]\nURL=" + url + "\n")
            .string();
    }
};

TEST_F(QuorvaneCheckFormatTest, JsonAndCsvRecordsCarryEveryRowWithItsAnswer) {
    testsupport::ScriptedServer server(Router());
    const std::string cafe = "Café, \"Bar\"";
    struct Row {
        std::string file, folder, name, path;
        TRecord expected;  // besides the keys above
    } rows[] = {
        {"ok.url", "", "ok", "/ok", {{"verdict", "OK"}, {"status", "200"}, {"reason", "OK"}}},
        {"Sub/dated.url",
         "Sub",
         "dated",
         "/dated",
         {{"verdict", "2002/10/09; 10:10:10 GMT"},
          {"status", "200"},
          {"reason", "OK"},
          {"last_modified", "2002-10-09T10:10:10Z"}}},
        {"gone.url",
         "",
         "gone",
         "/gone",
         {{"verdict", "FAILED"}, {"status", "404"}, {"reason", "Not Found"}}},
        {"login.url",
         "",
         "login",
         "/login",
         {{"verdict", "BLOCKED"}, {"status", "401"}, {"reason", "Unauthorized"}}},
        {"moved.url",
         "",
         "moved",
         "/moved",
         {{"verdict", "OK"},
          {"status", "200"},
          {"reason", "OK"},
          {"final_url", server.Url("/target")}}},
        {cafe + ".url",
         "",
         cafe,
         "/cafe",
         {{"verdict", "OK"}, {"status", "200"}, {"reason", "OK"}}},
        // Nothing listens on port 1: a local failure, without a status.
        {"refused.url",
         "",
         "refused",
         "",
         {{"verdict", "FAILED"},
          {"status", "null"},
          {"reason", "Connection refused (Error #10061)"},
          {"url", "http://127.0.0.1:1/"},
          {"final_url", "http://127.0.0.1:1/"}}},
        {"mail.url",
         "",
         "mail",
         "",
         {{"verdict", "SKIPPED"},
          {"status", "null"},
          {"reason", "mailto: is no web address"},
          {"url", "mailto:anna@example.org"},
          {"final_url", "mailto:anna@example.org"}}},
    };
    std::map<std::string, TRecord> expected;  // by name
    for (Row& row : rows) {
        const std::string url = row.path.empty() ? row.expected["url"] : server.Url(row.path);
        TRecord record = {{"file", Shortcut(row.file, url)},
                          {"folder", row.folder},
                          {"name", row.name},
                          {"url", url},
                          {"final_url", url},
                          {"last_modified", "null"}};
        for (const auto& [key, value] : row.expected)
            record[key] = value;
        expected[row.name] = record;
    }
    const std::string summary = "8 Einträge: 3 OK, 1 mit Datum, 2 FAILED, 1 BLOCKED, 1 SKIPPED\n";

    TOutcome json = Run({"--format", "json"});
    EXPECT_EQ(json.exitCode, 2);
    EXPECT_EQ(json.errors, summary) << "the summary goes to standard error";
    std::vector<std::string> jsonOrder;
    for (const std::string& line : json.lines) {
        const TRecord record = FromJson(line);
        jsonOrder.push_back(record.at("name"));
        EXPECT_EQ(record, expected[record.at("name")]) << line;
    }
    EXPECT_EQ(jsonOrder.size(), expected.size());

    TOutcome csv = Run({"--format=csv"});
    EXPECT_EQ(csv.exitCode, 2);
    EXPECT_EQ(csv.errors, summary);
    std::vector<std::string> csvOrder;
    for (const TRecord& record : FromCsv(Joined(csv.lines))) {
        csvOrder.push_back(record.at("name"));
        EXPECT_EQ(record, expected[record.at("name")]) << record.at("name");
    }
    EXPECT_EQ(csvOrder, jsonOrder) << "both list the rows in the list's order";

    // The text format names the rows in that order too, and ends with the summary.
    TOutcome text = Run({"--format", "text"});
    std::vector<std::string> textOrder;
    for (const std::string& line : text.lines) {
        if (!line.starts_with("["))
            continue;
        const std::string named =
            line.substr(line.find("] ") + 2, line.find(" <") - line.find("] ") - 2);
        textOrder.push_back(named.substr(named.find('/') + 1));
    }
    EXPECT_EQ(textOrder, jsonOrder);
    EXPECT_EQ(text.lines.back(), summary.substr(0, summary.size() - 1));
}

TEST_F(QuorvaneCheckFormatTest, AddressesFromArgumentsAndStandardInputAreCheckedInTheirOrder) {
    testsupport::ScriptedServer server(Router());
    Shortcut("never.url", server.Url("/never"));  // the Favorites folder is not read
    testsupport::TProgramRun run;
    run.args = {"--format", "json", server.Url("/ok"), "-", "mailto:x"};
    run.input = "# checked every night\r\n\r\n  " + server.Url("/gone") + " \r\n" +
                server.Url("/moved") + "\n   # " + server.Url("/never") + "\n";
    TOutcome outcome = RunAs(run);
    EXPECT_EQ(outcome.exitCode, 2) << outcome.errors;
    std::vector<std::string> names;
    for (const std::string& line : outcome.lines) {
        const TRecord record = FromJson(line);
        names.push_back(record.at("name"));
        EXPECT_EQ(record.at("file"), record.at("name"));
        EXPECT_EQ(record.at("url"), record.at("name"));
        EXPECT_EQ(record.at("folder"), "");
        if (record.at("name") == server.Url("/moved")) {
            EXPECT_EQ(record.at("final_url"), server.Url("/target")) << "with many rows in flight";
        }
    }
    EXPECT_THAT(names, ElementsAre(server.Url("/ok"), server.Url("/gone"), server.Url("/moved"),
                                   "mailto:x"));
    for (const std::string& received : server.Received())
        EXPECT_NE(Target(received), "/never");
    EXPECT_FALSE(fs::exists(resultFile)) << "addresses keep their results only with --results";

    // With --results they are kept, each under its address; the log names the rows by it.
    const fs::path results = dir.Path() / "addresses.dat";
    TOutcome kept = Run({server.Url("/ok"), "--results", results.string()});
    EXPECT_EQ(kept.exitCode, 0) << kept.errors;
    EXPECT_EQ(kept.lines.front(), "[1/1] " + server.Url("/ok") + " <" + server.Url("/ok") + ">");
    TFavoriteList list;
    list.Append(TFavoriteRow{"", "", "???", "", server.Url("/ok"), 0});
    OpenURLs(list, results.string());
    EXPECT_EQ(list[0].Datum, "OK");
    EXPECT_FALSE(fs::exists(resultFile));
}

TEST_F(QuorvaneCheckFormatTest, NoSaveLeavesTheResultFileAlone) {
    testsupport::ScriptedServer server(Router());
    const std::string path = Shortcut("gone.url", server.Url("/gone"));
    StoreEarlierResults({path}, "OK");
    const std::string earlier = testsupport::ReadFileBytes(resultFile);
    TOutcome outcome = Run({"--no-save"});
    EXPECT_EQ(outcome.exitCode, 2) << outcome.errors;
    EXPECT_EQ(testsupport::ReadFileBytes(resultFile), earlier);
}

// Bytes that are no UTF-8 in a name come out replaced, so that every record stays readable.
TEST_F(QuorvaneCheckFormatTest, RecordsStayValidUtf8WhateverTheNamesHold) {
    const std::string address = "mailto:a\xff\xc3(b\x01\"c\\";
    for (const char* format : {"json", "csv"}) {
        SCOPED_TRACE(format);
        TOutcome outcome = Run({"--format", format, address});
        ASSERT_EQ(outcome.lines.size(), std::string(format) == "json" ? 1u : 2u);
        const std::string expected = "mailto:a\uFFFD\uFFFD(b\x01\"c\\";
        if (std::string(format) == "json")
            EXPECT_EQ(FromJson(outcome.lines[0]).at("name"), expected);
        else
            EXPECT_EQ(FromCsv(Joined(outcome.lines)).at(0).at("name"), expected);
    }
}

// Colours only for a person at a terminal who has not asked for none; never in records.
TEST_F(QuorvaneCheckFormatTest, ColoursOnlyOnATerminalAndNeverWithNoColor) {
    const std::string ok = "file://" + dir.Path().string();
    const std::string failed = "file://" + (dir.Path() / "missing").string();
    struct Case {
        const char* name;
        bool terminal;
        std::vector<std::string> args;
        const char* noColor;
        bool colours;
    } cases[] = {
        {"a terminal", true, {}, "", true},
        {"a terminal, NO_COLOR set", true, {}, "1", false},
        {"a terminal, --color never", true, {"--color", "never"}, "", false},
        {"a terminal, json", true, {"--format", "json"}, "", false},
        {"a pipe", false, {}, "", false},
        {"a pipe, --color always", false, {"--color=always"}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TProgramRun run;
        run.args = c.args;
        run.args.insert(run.args.end(), {ok, failed, "mailto:x"});
        run.env = {{"NO_COLOR", c.noColor}, {"TERM", "xterm"}};
        run.outputToTerminal = c.terminal;
        TOutcome outcome = RunAs(run);
        EXPECT_EQ(outcome.exitCode, 2) << outcome.errors;
        const std::string out = Joined(outcome.lines);
        if (!c.colours) {
            EXPECT_EQ(out.find('\033'), std::string::npos) << out;
            continue;
        }
        EXPECT_THAT(out, testing::HasSubstr("\033[32m[1/3] " + ok + " <" + ok + ">\033[0m"));
        EXPECT_THAT(out, testing::HasSubstr("\033[31m[2/3] " + failed));
        EXPECT_THAT(out, testing::HasSubstr("\033[90m[3/3] mailto:x"));
        EXPECT_THAT(out, testing::HasSubstr("\033[31mFAILED\033[0m\t" + failed + "\t" + failed));
        EXPECT_THAT(outcome.lines.back(), testing::StartsWith("3 Einträge:")) << "uncoloured";
    }
}

}  // namespace
