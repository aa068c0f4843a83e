// Statement corpora: every statement of data/statement_corpus.txt parses to
// the compact form written under it; every statement of data/error_corpus.txt
// fails with the first error (text and position) written under it.
//
// File format: lines "> SQL" (consecutive ones are joined by line breaks),
// each followed by one line "= expected". Lines starting with "#" and blank
// lines are comments. With ORVEX_UPDATE_CORPUS=1 in the environment the test
// rewrites the expectations from what the parser gives (review the diff!).

#include "SqlStatementHarness.h"
#include "SqlTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orvex::sqltest {
namespace {

struct CorpusEntry {
    std::string Sql;
    std::string Expected;
    int Line = 0;
};

struct Corpus {
    std::vector<std::string> Lines; // the file, for rewriting
    std::vector<CorpusEntry> Entries;
    std::vector<std::size_t> ExpectedLine; // index in Lines of each entry's "=" line
};

std::string DataPath(const std::string& Name)
{
    return std::string(ORVEX_SQL_TEST_DATA) + "/" + Name;
}

Corpus ReadCorpus(const std::string& Path)
{
    Corpus corpus;
    std::ifstream in(Path);
    std::string line;
    while (std::getline(in, line))
        corpus.Lines.push_back(line);
    CorpusEntry current;
    bool open = false;
    for (std::size_t i = 0; i < corpus.Lines.size(); ++i) {
        const std::string& text = corpus.Lines[i];
        if (text.rfind("> ", 0) == 0) {
            if (!open) {
                current = CorpusEntry{};
                current.Line = static_cast<int>(i) + 1;
                current.Sql = text.substr(2);
                open = true;
            } else {
                current.Sql += "\n" + text.substr(2);
            }
        } else if (text.rfind("= ", 0) == 0 || text == "=") {
            if (open) {
                current.Expected = text.size() > 2 ? text.substr(2) : "";
                corpus.Entries.push_back(current);
                corpus.ExpectedLine.push_back(i);
                open = false;
            }
        }
    }
    return corpus;
}

bool UpdateRequested()
{
    const char* value = std::getenv("ORVEX_UPDATE_CORPUS");
    return value && std::string(value) == "1";
}

void RunCorpus(const std::string& Name, bool ExpectErrors, std::size_t MinimumEntries)
{
    PinnedFormats formats;
    Corpus corpus = ReadCorpus(DataPath(Name));
    ASSERT_GE(corpus.Entries.size(), MinimumEntries) << Name;
    std::vector<std::string> actual;
    for (const CorpusEntry& entry : corpus.Entries) {
        const std::string printed = ParseAndPrint(entry.Sql);
        actual.push_back(printed);
        const bool isError = printed.rfind("ERROR:", 0) == 0;
        EXPECT_EQ(isError, ExpectErrors) << Name << ":" << entry.Line << ": " << entry.Sql << "\n  gives " << printed;
        if (!UpdateRequested()) {
            EXPECT_EQ(printed, entry.Expected) << Name << ":" << entry.Line << ": " << entry.Sql;
        }
    }
    if (UpdateRequested()) {
        for (std::size_t i = 0; i < corpus.Entries.size(); ++i)
            corpus.Lines[corpus.ExpectedLine[i]] = "= " + actual[i];
        std::ofstream out(DataPath(Name), std::ios::trunc);
        for (const std::string& line : corpus.Lines)
            out << line << "\n";
    }
}

TEST(StatementCorpus, EveryStatementParsesToItsTree)
{
    RunCorpus("statement_corpus.txt", false, 300);
}

TEST(StatementCorpus, EveryWrongStatementGivesItsFirstError)
{
    RunCorpus("error_corpus.txt", true, 60);
}

} // namespace
} // namespace orvex::sqltest
