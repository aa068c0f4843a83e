// The statement corpus: files under tests/query/corpus, each a list of
// tables and statements with hand-written expected results, run through
// the statement driver on a "MEMORY" database and on a database file.
//
//   # a comment
//   only disk                       the file runs on the database file only
//   table NAME [memory]             a table (in memory on the database file
//   columns id:int v:str:10 f:float d:date s:smallint
//   row 1|'a'|1.5|~|2               values: numbers, 'strings', ~ for NULL
//                                   (a blank line ends the table)
//   query [rowsort] [max=N]         a statement; its rows in order unless
//   SELECT ...                      rowsort, cut at MaxRecords N
//   ----
//   columns: id|v                   optional: the result column names
//   1|'a'                           the rows, values as CanonicalValue
//                                   (a blank line ends the case)
//   error [max=N]                   a statement that fails; the line after
//   SELECT ...                      "----" must occur in its error text
//   ----
//   Table not found - nosuch

#include "vekDriverTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef ORVEX_QUERY_CORPUS_DIR
#error "ORVEX_QUERY_CORPUS_DIR names the corpus folder"
#endif

namespace orvex::querytest {
namespace {

std::vector<std::string> Split(const std::string& Text, char Separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(Text);
    while (std::getline(in, part, Separator))
        parts.push_back(part);
    return parts;
}

bool StartsWith(const std::string& Text, const std::string& Prefix)
{
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

TFieldType TypeOf(const std::string& Name)
{
    if (Name == "int")
        return ftInteger;
    if (Name == "smallint")
        return ftSmallint;
    if (Name == "float")
        return ftFloat;
    if (Name == "date")
        return ftDate;
    if (Name == "str")
        return ftString;
    throw std::runtime_error("unknown column type " + Name);
}

Variant ValueOf(const std::string& Text, TFieldType Type)
{
    if (Text == "~")
        return Variant::Null();
    if (Text.size() >= 2 && Text.front() == '\'' && Text.back() == '\'')
        return Variant(Text.substr(1, Text.size() - 2));
    switch (Type) {
    case ftInteger:
    case ftSmallint:
        return Variant(std::stoi(Text));
    case ftDate:
    case ftFloat:
        return Variant(std::stod(Text));
    default:
        return Variant(Text);
    }
}

struct TCase {
    int Line = 0;
    bool Error = false;
    bool RowSort = false;
    Integer MaxRecords = 0;
    std::string Sql;
    std::vector<std::string> Columns;
    std::vector<std::string> Expected;
    std::string ExpectedError;
};

struct TCorpusFile {
    bool OnlyDisk = false;
    std::vector<std::pair<TTableSpec, bool>> Tables;
    std::vector<TCase> Cases;
};

TCorpusFile ReadCorpus(const std::string& Path)
{
    TCorpusFile file;
    std::ifstream in(Path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::size_t i = 0;
    auto atEnd = [&] { return i >= lines.size() || Trim(lines[i]).empty(); };
    while (i < lines.size()) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == '#') {
            ++i;
            continue;
        }
        const std::vector<std::string> words = Split(line, ' ');
        if (line == "only disk") {
            file.OnlyDisk = true;
            ++i;
        } else if (words[0] == "table") {
            TTableSpec spec;
            spec.Name = words.at(1);
            const bool memory = words.size() > 2 && words[2] == "memory";
            ++i;
            for (const std::string& column : Split(Trim(lines.at(i)).substr(8), ' ')) {
                if (column.empty())
                    continue;
                const std::vector<std::string> parts = Split(column, ':');
                spec.Columns.push_back({parts.at(0), TypeOf(parts.at(1)), parts.size() > 2 ? std::stoi(parts[2]) : 0});
            }
            for (++i; !atEnd(); ++i) {
                const std::vector<std::string> values = Split(Trim(lines[i]).substr(4), '|');
                std::vector<Variant> row;
                for (std::size_t c = 0; c < values.size(); ++c)
                    row.push_back(ValueOf(values[c], spec.Columns.at(c).Type));
                spec.Rows.push_back(row);
            }
            file.Tables.emplace_back(spec, memory);
        } else if (words[0] == "query" || words[0] == "error") {
            TCase item;
            item.Line = static_cast<int>(i) + 1;
            item.Error = words[0] == "error";
            for (std::size_t w = 1; w < words.size(); ++w) {
                if (words[w] == "rowsort")
                    item.RowSort = true;
                else if (StartsWith(words[w], "max="))
                    item.MaxRecords = std::stoi(words[w].substr(4));
            }
            for (++i; i < lines.size() && Trim(lines[i]) != "----"; ++i)
                item.Sql += (item.Sql.empty() ? "" : "\n") + lines[i];
            ++i;
            for (; !atEnd(); ++i) {
                const std::string text = Trim(lines[i]);
                if (item.Error)
                    item.ExpectedError = text;
                else if (StartsWith(text, "columns:"))
                    item.Columns = Split(Trim(text.substr(8)), '|');
                else
                    item.Expected.push_back(text);
            }
            file.Cases.push_back(item);
        } else {
            throw std::runtime_error(Path + ": unknown line " + std::to_string(i + 1) + ": " + line);
        }
    }
    return file;
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(ORVEX_QUERY_CORPUS_DIR))
        if (entry.path().extension() == ".test")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

void RunCorpus(const std::string& Path, bool OnDisk)
{
    const TCorpusFile file = ReadCorpus(Path);
    if (file.OnlyDisk && !OnDisk)
        return;
    TDriverFixture fixture(OnDisk);
    for (const auto& [spec, memory] : file.Tables)
        fixture.AddTable(spec, memory);
    for (const TCase& item : file.Cases) {
        SCOPED_TRACE(Path + ":" + std::to_string(item.Line) + "\n" + item.Sql);
        TDriverFixture::TResult result = fixture.Run(item.Sql, item.MaxRecords);
        if (item.Error) {
            EXPECT_NE(result.Error.find(item.ExpectedError), std::string::npos) << "error: " << result.Error;
            continue;
        }
        EXPECT_EQ(result.Error, "");
        if (!result.Error.empty())
            continue;
        if (!item.Columns.empty()) {
            EXPECT_EQ(result.Columns, item.Columns);
        }
        std::vector<std::string> expected = item.Expected;
        if (item.RowSort) {
            std::sort(result.Rows.begin(), result.Rows.end());
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(result.Rows, expected);
    }
}

class QueryCorpus : public ::testing::TestWithParam<bool> {};

TEST_P(QueryCorpus, EveryFileGivesItsExpectedResults)
{
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& path : files)
        RunCorpus(path, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Databases, QueryCorpus, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info) { return Info.param ? "File" : "Memory"; });

} // namespace
} // namespace orvex::querytest
