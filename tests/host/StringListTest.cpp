#include "host/Classes.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

std::vector<std::string> Lines(const TStrings& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list[i]);
    return out;
}

void Fill(TStrings& list, const std::vector<std::string>& lines)
{
    list.Clear();
    for (const auto& s : lines)
        list.Add(s);
}

// Counts live instances, to see who frees the objects.
class TCounted : public TObject {
public:
    explicit TCounted(int* live) : FLive(live) { ++*FLive; }
    ~TCounted() override { --*FLive; }

private:
    int* FLive;
};

TEST(StringListTest, EditingOperations)
{
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("c"), 1);
    list.Insert(0, "a");
    list.Append("d");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b", "c", "d"}));
    list.Delete(1);
    list.Move(0, 2);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"c", "d", "a"}));
    list.Exchange(0, 2);
    list.Put(1, "x");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "x", "c"}));
    EXPECT_EQ(list.IndexOf("C"), 2); // ignores case
    EXPECT_EQ(list.IndexOf("q"), -1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringListTest, ObjectsTravelWithTheirLines)
{
    TObject a, b, c;
    TStringList list;
    list.AddObject("a", &a);
    list.AddObject("b", &b);
    list.InsertObject(0, "c", &c);
    list.Move(0, 2);
    list.Exchange(0, 1);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(list.Objects(0), &b);
    EXPECT_EQ(list.Objects(1), &a);
    EXPECT_EQ(list.Objects(2), &c);
    EXPECT_EQ(list.IndexOfObject(&c), 2);
    list.PutObject(2, nullptr);
    EXPECT_EQ(list.IndexOfObject(&c), -1);
}

TEST(StringListTest, OwnedObjectsAreFreedWithTheirLinesButNotWhenMoved)
{
    int live = 0;
    {
        TStringList list;
        list.OwnsObjects = true;
        for (const char* s : {"a", "b", "c", "d"})
            list.AddObject(s, new TCounted(&live));
        EXPECT_EQ(live, 4);
        list.Move(0, 3);
        list.Exchange(0, 1);
        EXPECT_EQ(live, 4);
        list.Delete(0);
        EXPECT_EQ(live, 3);
        list.Clear();
        EXPECT_EQ(live, 0);
        list.AddObject("e", new TCounted(&live));
        list.AddObject("f", new TCounted(&live));
    }
    EXPECT_EQ(live, 0); // the destructor frees the rest

    TStringList notOwning;
    TCounted kept(&live);
    notOwning.AddObject("k", &kept);
    notOwning.Clear();
    EXPECT_EQ(live, 1);
}

TEST(StringListTest, ErrorsAndTheirTexts)
{
    TStringList list;
    Fill(list, {"a", "b"});
    EXPECT_RAISES(list.Get(2), EStringListError, "List index out of bounds (2)");
    EXPECT_RAISES(list.Delete(-1), EStringListError, "List index out of bounds (-1)");
    EXPECT_RAISES(list.Insert(3, "x"), EStringListError, "List index out of bounds (3)");
    EXPECT_RAISES(list.Objects(5), EStringListError, "List index out of bounds (5)");
    EXPECT_RAISES(list.Exchange(0, 2), EStringListError, "List index out of bounds (2)");
    // A move to a bad place loses nothing.
    EXPECT_RAISES(list.Move(0, 2), EStringListError, "List index out of bounds (2)");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));

    list.SetSorted(true);
    EXPECT_RAISES(list.Insert(0, "x"), EStringListError, "Operation not allowed on sorted string list");
    EXPECT_RAISES(list.Put(0, "x"), EStringListError, "Operation not allowed on sorted string list");
    EXPECT_RAISES(list.Move(0, 1), EStringListError, "Operation not allowed on sorted string list");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));
}

TEST(StringListTest, SortedListsFindAndPlaceByTheAnsiOrder)
{
    TStringList list;
    Fill(list, {"pear", "Apple", "fig", "banana", "Cherry"});
    list.SetSorted(true);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"Apple", "banana", "Cherry", "fig", "pear"}));
    EXPECT_EQ(list.Add("date"), 3);
    EXPECT_EQ(list.Add("aa"), 0);

    struct Case {
        const char* key;
        bool found;
        int index;
    };
    // Found at its place; missing at the place it would go.
    const Case cases[] = {{"aa", true, 0},     {"APPLE", true, 1}, {"cherry", true, 3},
                          {"pear", true, 6},   {"a", false, 0},    {"coconut", false, 4},
                          {"zebra", false, 7}, {"", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        int index = -1;
        EXPECT_EQ(list.Find(c.key, index), c.found);
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(list.IndexOf(c.key), c.found ? c.index : -1);
    }
}

TEST(StringListTest, DuplicatesOfASortedList)
{
    TStringList list;
    list.SetSorted(true);
    Fill(list, {"b", "a", "c"});

    list.SetDuplicates(dupIgnore);
    TObject obj;
    EXPECT_EQ(list.AddObject("B", &obj), 1); // the existing line's index; nothing added
    EXPECT_EQ(list.Objects(1), nullptr);
    EXPECT_EQ(list.Count(), 3);

    list.SetDuplicates(dupError);
    EXPECT_RAISES(list.Add("A"), EStringListError, "String list does not allow duplicates");
    EXPECT_EQ(list.Count(), 3);

    list.SetDuplicates(dupAccept);
    list.Add("b");
    list.Add("B");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "B", "b", "b", "c"}));
    int index = -1;
    EXPECT_TRUE(list.Find("b", index));
    EXPECT_EQ(index, 1); // the first of the equal run

    // Duplicates only matter to a sorted list.
    TStringList plain;
    plain.SetDuplicates(dupError);
    plain.Add("x");
    plain.Add("x");
    EXPECT_EQ(plain.Count(), 2);
}

TEST(StringListTest, CustomSortAndSortedFlag)
{
    TStringList list;
    Fill(list, {"ccc", "a", "bb", "dddd"});
    list.CustomSort([](TStringList* l, int i, int j) {
        return static_cast<int>(l->Get(j).size()) - static_cast<int>(l->Get(i).size());
    });
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"dddd", "ccc", "bb", "a"}));
    list.Sort();
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "bb", "ccc", "dddd"}));
    list.SetSorted(true);
    list.SetSorted(false);
    list.Insert(0, "zz"); // allowed again
    EXPECT_EQ(list[0], "zz");
}

TEST(StringListTest, NamesAndValues)
{
    TStringList list;
    Fill(list, {"Path=C:\\data", "plain line", "Mode=fast=yes", "empty="});
    EXPECT_EQ(list.Names(0), "Path");
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.Values("PATH"), "C:\\data");
    EXPECT_EQ(list.Values("mode"), "fast=yes");
    EXPECT_EQ(list.Values("empty"), "");
    EXPECT_EQ(list.Values("missing"), "");
    EXPECT_EQ(list.IndexOfName("MODE"), 2);
    EXPECT_EQ(list.IndexOfName("plain line"), -1);

    list.SetValue("mode", "slow"); // replaces the line, under the given name
    list.SetValue("New", "1");     // appends
    list.SetValue("path", "");     // an empty value deletes the line
    list.SetValue("absent", "");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"plain line", "mode=slow", "empty=", "New=1"}));
}

TEST(StringListTest, CommaTextWriting)
{
    struct Case {
        std::vector<std::string> items;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{""}, "\"\""},
        {{"a", "b", "c"}, "a,b,c"},
        {{"MYPC", "john smith"}, "MYPC,\"john smith\""},
        {{"x,y", "say \"hi\"", "tab\there"}, "\"x,y\",\"say \"\"hi\"\"\",\"tab\there\""},
        {{"a", "", "b", ""}, "a,\"\",b,\"\""},
        {{"semi;colon", "quote'single", "=eq"}, "semi;colon,quote'single,=eq"},
        {{"\xE9t\xE9"}, "\xE9t\xE9"}, // high bytes need no quotes
    };
    for (const Case& c : cases) {
        TStringList list;
        Fill(list, c.items);
        EXPECT_EQ(list.CommaText(), c.text);
    }
}

TEST(StringListTest, CommaTextReading)
{
    struct Case {
        std::string text;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"   ", {}},
        {"a,b", {"a", "b"}},
        {"a b\tc", {"a", "b", "c"}},          // blanks and controls separate too
        {"  a ,  b  ", {"a", "b"}},           // blanks around commas vanish
        {"a,,b", {"a", "", "b"}},             // an empty item between commas
        {",a", {"", "a"}},
        {"a,", {"a"}},                        // a trailing comma adds nothing
        {"\"a b\",c", {"a b", "c"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"\"", {""}},
        {"\"ab\"cd", {"ab", "cd"}},           // text after a closing quote is the next item
        {"\"open ended", {"open ended"}},     // a missing closing quote runs to the end
        {"a\r\nb", {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TStringList list;
        list.SetCommaText(c.text);
        EXPECT_EQ(Lines(list), c.items);
    }
}

TEST(StringListTest, CommaTextRoundTrips)
{
    const std::vector<std::vector<std::string>> lists = {
        {""},
        {"", ""},
        {"a", ""},
        {"", "a", ""},
        {" leading", "trailing ", "in side"},
        {"\"", "\"\"", "a\"b", ","},
        {std::string("nul\0byte", 8), "\x01", "\x7F\xFF"},
        {"COMPUTER-1", "Administrator"},
    };
    for (const auto& items : lists) {
        TStringList out;
        Fill(out, items);
        TStringList in;
        in.SetCommaText(out.CommaText());
        EXPECT_EQ(Lines(in), items) << out.CommaText();
    }
}

TEST(StringListTest, TextJoinsWithCrLfAndSplitsOnAnyLineEnd)
{
    TStringList list;
    Fill(list, {"one", "", "three"});
    EXPECT_EQ(list.Text(), "one\r\n\r\nthree\r\n");

    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\n\n", {"a", ""}},
        {"a\n\r", {"a", ""}}, // LF then CR: two line ends
        {"\r\n", {""}},
        {" keep blanks ", {" keep blanks "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        list.SetText(c.text);
        EXPECT_EQ(Lines(list), c.lines);
    }
}

TEST(StringListTest, FilesAndStreams)
{
    testing::ScratchDir dir;
    const std::string name = dir.File("lines.txt");
    TStringList list;
    Fill(list, {"alpha", "b\xE9ta", ""});
    list.SaveToFile(name);
    std::ifstream in(name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), "alpha\r\nb\xE9ta\r\n\r\n");

    TStringList back;
    back.Add("old");
    back.LoadFromFile(name);
    EXPECT_TRUE(back.Equals(&list));

    // A stream is read from its position to its end.
    TStringStream stream("skip|x\ny");
    stream.SetPosition(5);
    back.LoadFromStream(&stream);
    EXPECT_EQ(Lines(back), (std::vector<std::string>{"x", "y"}));
    TStringStream outStream;
    back.SaveToStream(&outStream);
    EXPECT_EQ(outStream.DataString(), "x\r\ny\r\n");

    EXPECT_RAISES(back.LoadFromFile(dir.File("missing.txt")), EFOpenError,
                  "Cannot open file " + dir.File("missing.txt"));
}

TEST(StringListTest, AssignAndEquals)
{
    TObject obj;
    TStringList a;
    Fill(a, {"x", "y"});
    a.PutObject(1, &obj);
    TStringList b;
    Fill(b, {"old"});
    b.Assign(&a);
    EXPECT_EQ(Lines(b), Lines(a));
    EXPECT_EQ(b.Objects(1), &obj);
    EXPECT_TRUE(a.Equals(&b));
    b.Put(0, "X");
    EXPECT_FALSE(a.Equals(&b)); // Equals is case-sensitive
    b.Add("z");
    EXPECT_FALSE(a.Equals(&b));

    TCollection collection(ItemClassOf<TCollectionItem>());
    EXPECT_RAISES(b.Assign(&collection), EConvertError, "Cannot assign a TCollection to a TStringList");
}

TEST(StringListTest, ChangeEventsAndUpdateBrackets)
{
    TStringList list;
    std::vector<std::string> log;
    list.OnChanging = [&](TObject* sender) {
        EXPECT_EQ(sender, &list);
        log.push_back("changing");
    };
    list.OnChange = [&](TObject*) { log.push_back("change"); };

    list.Add("a");
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change"}));

    log.clear();
    list.BeginUpdate();
    list.BeginUpdate();
    list.Add("b");
    list.Delete(0);
    list.SetCommaText("x,y,z"); // its own bracket nests inside
    list.EndUpdate();
    EXPECT_EQ(log, (std::vector<std::string>{"changing"}));
    list.EndUpdate();
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change"}));
    EXPECT_EQ(list.UpdateCount(), 0);

    // Multi-step operations report once.
    log.clear();
    list.SetText("1\r\n2\r\n3");
    list.Move(0, 2);
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change", "changing", "change"}));

    // Nothing to clear: no events.
    log.clear();
    TStringList quiet;
    quiet.OnChange = [&](TObject*) { log.push_back("change"); };
    quiet.Clear();
    EXPECT_TRUE(log.empty());
}

// A descendant that keeps its lines upper-case and counts deletions: every
// change path goes through the overridable operations.
class TUpperList : public TStringList {
public:
    int Deletes = 0;
    void Insert(int index, const std::string& s) override { TStringList::Insert(index, AnsiUpperCase(s)); }
    void Delete(int index) override
    {
        ++Deletes;
        TStringList::Delete(index);
    }
    int AddObject(const std::string& s, TObject* obj) override
    {
        return TStringList::AddObject(AnsiUpperCase(s), obj);
    }

    std::vector<std::string> States;

protected:
    void SetUpdateState(bool updating) override
    {
        States.push_back(updating ? "begin" : "end");
        TStringList::SetUpdateState(updating);
    }
};

TEST(StringListTest, DescendantsOverrideTheChangeOperations)
{
    TUpperList list;
    list.Add("a");
    list.SetCommaText("b,c");
    list.Insert(0, "d");
    list.Move(0, 2); // Delete then Insert
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"B", "C", "D"}));
    EXPECT_EQ(list.Deletes, 1);
    EXPECT_EQ(list.States, (std::vector<std::string>{"begin", "end", "begin", "end"}));
}

} // namespace
} // namespace orvex
