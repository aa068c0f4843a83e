// Random appends, edits, deletes, key searches, ranges, locates and
// bookmarks on a table with several indexes (unique, non-unique,
// case-insensitive, descending, compound, with nulls), checked at every step
// against an in-memory model of the rows and of each index's order; on disk
// (with reconnects) and in memory.

#include "vekTableTestUtil.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <random>

namespace orvex {
namespace {

using tabletests::TTableFixture;
using tabletests::TWhere;

struct TRow {
    int ID = 0;
    std::optional<std::string> Name; // ixName: case-insensitive
    int Grp = 0;
    std::optional<double> Val;       // ixVal: descending
    std::optional<std::string> Tag;  // ixGrpTag: Grp;Tag
    Cardinal RecordID = 0;           // the hidden key field of non-unique indexes
};

std::string Lower(std::string Text)
{
    for (char& c : Text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Text;
}

// -1, 0, 1; a null sorts before every value.
template <class T, class Less>
int CompareOptional(const std::optional<T>& A, const std::optional<T>& B, Less LessThan)
{
    if (!A && !B)
        return 0;
    if (!A)
        return -1;
    if (!B)
        return 1;
    if (LessThan(*A, *B))
        return -1;
    if (LessThan(*B, *A))
        return 1;
    return 0;
}

int Sign(int A, int B)
{
    return A < B ? -1 : (A > B ? 1 : 0);
}

using TOrder = std::function<int(const TRow&, const TRow&)>;

const std::map<std::string, TOrder>& Orders()
{
    static const std::map<std::string, TOrder> orders{
        {"ixID", [](const TRow& A, const TRow& B) { return Sign(A.ID, B.ID); }},
        {"ixName",
         [](const TRow& A, const TRow& B) {
             const int c = CompareOptional(A.Name, B.Name,
                                           [](const std::string& X, const std::string& Y) { return Lower(X) < Lower(Y); });
             return c != 0 ? c : Sign(static_cast<int>(A.RecordID), static_cast<int>(B.RecordID));
         }},
        {"ixVal",
         [](const TRow& A, const TRow& B) {
             // Descending, the record ID too.
             const int c = CompareOptional(A.Val, B.Val, [](double X, double Y) { return X < Y; });
             return c != 0 ? -c : -Sign(static_cast<int>(A.RecordID), static_cast<int>(B.RecordID));
         }},
        {"ixGrpTag",
         [](const TRow& A, const TRow& B) {
             if (A.Grp != B.Grp)
                 return Sign(A.Grp, B.Grp);
             const int c = CompareOptional(A.Tag, B.Tag, [](const std::string& X, const std::string& Y) { return X < Y; });
             return c != 0 ? c : Sign(static_cast<int>(A.RecordID), static_cast<int>(B.RecordID));
         }},
    };
    return orders;
}

class TableDifferential : public ::testing::TestWithParam<TWhere> {
protected:
    TableDifferential() : fx(GetParam()), random(GetParam() == TWhere::Disk ? 17 : 29) {}

    void CreateTable()
    {
        table = fx.NewTable("Diff");
        TFieldDefs* fields = table->FieldDefs();
        fields->Add("ID", ftInteger, 0, true);
        fields->Add("Name", ftString, 12);
        fields->Add("Grp", ftSmallint);
        fields->Add("Val", ftFloat);
        fields->Add("Tag", ftString, 8);
        TIndexDefs* indexes = table->IndexDefs();
        indexes->Add("ixID", "ID", ixUnique);
        indexes->Add("ixName", "Name", ixCaseInsensitive);
        indexes->Add("ixVal", "Val", ixDescending);
        indexes->Add("ixGrpTag", "Grp;Tag", 0);
        table->CreateTable();
        table->Open();
    }

    std::vector<TRow> Sorted(const std::string& Index) const
    {
        std::vector<TRow> rows;
        for (const auto& entry : model)
            rows.push_back(entry.second);
        const TOrder& order = Orders().at(Index);
        std::stable_sort(rows.begin(), rows.end(), [&](const TRow& A, const TRow& B) { return order(A, B) < 0; });
        return rows;
    }

    TRow Current()
    {
        TRow row;
        row.ID = table->FieldByName("ID")->AsInteger();
        return model.at(row.ID);
    }

    // The table's fields against the model's row of the same ID.
    void ExpectCurrentMatchesModel(const std::string& Where)
    {
        const int id = table->FieldByName("ID")->AsInteger();
        ASSERT_TRUE(model.count(id)) << Where << ": unknown ID " << id;
        const TRow& row = model.at(id);
        TField* name = table->FieldByName("Name");
        EXPECT_EQ(name->IsNull(), !row.Name.has_value()) << Where;
        if (row.Name && !name->IsNull()) {
            EXPECT_EQ(name->AsString(), *row.Name) << Where;
        }
        EXPECT_EQ(table->FieldByName("Grp")->AsInteger(), row.Grp) << Where;
        TField* val = table->FieldByName("Val");
        EXPECT_EQ(val->IsNull(), !row.Val.has_value()) << Where;
        if (row.Val && !val->IsNull()) {
            EXPECT_DOUBLE_EQ(val->AsFloat(), *row.Val) << Where;
        }
        TField* tag = table->FieldByName("Tag");
        EXPECT_EQ(tag->IsNull(), !row.Tag.has_value()) << Where;
    }

    // Every index walked both ways equals the model's order.
    void CheckAllOrders(const std::string& Where)
    {
        const std::string keep = table->IndexName();
        for (const auto& entry : Orders()) {
            table->SetIndexName(entry.first);
            std::vector<int> forwards, backwards, expected;
            for (const TRow& row : Sorted(entry.first))
                expected.push_back(row.ID);
            for (table->First(); !table->Eof(); table->Next())
                forwards.push_back(table->FieldByName("ID")->AsInteger());
            for (table->Last(); !table->Bof(); table->Prior())
                backwards.insert(backwards.begin(), table->FieldByName("ID")->AsInteger());
            ASSERT_EQ(forwards, expected) << Where << " " << entry.first;
            ASSERT_EQ(backwards, expected) << Where << " " << entry.first;
            EXPECT_EQ(table->RecordCount(), static_cast<int>(expected.size())) << Where;
        }
        table->SetIndexName(keep);
    }

    std::optional<std::string> RandomName()
    {
        static const char* const names[] = {"ab", "AB", "Ab", "b", "B", "abc", "ABC", "c", "zz", "Zz", "m"};
        if (random() % 8 == 0)
            return std::nullopt;
        return std::string(names[random() % std::size(names)]);
    }
    std::optional<std::string> RandomTag()
    {
        static const char* const tags[] = {"x", "y", "xy", "yy", "a"};
        if (random() % 5 == 0)
            return std::nullopt;
        return std::string(tags[random() % std::size(tags)]);
    }
    std::optional<double> RandomVal()
    {
        if (random() % 6 == 0)
            return std::nullopt;
        return static_cast<double>(static_cast<int>(random() % 20)) / 2.0;
    }
    int RandomExistingID()
    {
        auto it = model.begin();
        std::advance(it, static_cast<long>(random() % model.size()));
        return it->first;
    }

    void WriteRow(const TRow& Row)
    {
        table->FieldByName("ID")->SetAsInteger(Row.ID);
        auto set = [&](const char* Field, const std::optional<std::string>& Value) {
            if (Value)
                table->FieldByName(Field)->SetAsString(*Value);
            else
                table->FieldByName(Field)->Clear();
        };
        set("Name", Row.Name);
        table->FieldByName("Grp")->SetAsInteger(Row.Grp);
        if (Row.Val)
            table->FieldByName("Val")->SetAsFloat(*Row.Val);
        else
            table->FieldByName("Val")->Clear();
        set("Tag", Row.Tag);
    }

    void Step(int Number)
    {
        const std::string where = "step " + std::to_string(Number);
        const int action = static_cast<int>(random() % 100);
        if (action < 30 || model.size() < 5) {
            // Append; now and then an ID that exists.
            TRow row;
            const bool duplicate = !model.empty() && random() % 10 == 0;
            row.ID = duplicate ? RandomExistingID() : nextID++;
            row.Name = RandomName();
            row.Grp = static_cast<int>(random() % 4);
            row.Val = RandomVal();
            row.Tag = RandomTag();
            table->Append();
            WriteRow(row);
            if (duplicate) {
                EXPECT_VEK_ERROR(9729, table->Post());
                table->Cancel();
            } else {
                table->Post();
                row.RecordID = ++recordIDs;
                model[row.ID] = row;
                ExpectCurrentMatchesModel(where + " append");
            }
        } else if (action < 50) {
            // Edit a row found by its key; now and then onto an existing ID.
            table->SetIndexName("ixID");
            TRow row = model.at(RandomExistingID());
            ASSERT_TRUE(table->FindKey({row.ID})) << where;
            const bool clash = model.size() > 1 && random() % 8 == 0;
            const int oldID = row.ID;
            if (clash) {
                do
                    row.ID = RandomExistingID();
                while (row.ID == oldID);
            } else if (random() % 3 == 0) {
                row.ID = nextID++;
            }
            if (random() % 2)
                row.Name = RandomName();
            if (random() % 2)
                row.Val = RandomVal();
            if (random() % 2)
                row.Tag = RandomTag();
            row.Grp = random() % 3 == 0 ? static_cast<int>(random() % 4) : row.Grp;
            table->Edit();
            WriteRow(row);
            if (clash) {
                EXPECT_VEK_ERROR(9729, table->Post());
                table->Cancel();
            } else {
                table->Post();
                model.erase(oldID);
                model[row.ID] = row;
                ExpectCurrentMatchesModel(where + " edit");
            }
        } else if (action < 60) {
            table->SetIndexName("ixID");
            const int id = RandomExistingID();
            ASSERT_TRUE(table->FindKey({id})) << where;
            table->Delete();
            model.erase(id);
        } else if (action < 72) {
            // FindKey on an index, leading fields only for the compound one.
            const int which = static_cast<int>(random() % 3);
            std::vector<TRow> rows;
            std::function<bool(const TRow&)> match;
            std::vector<Variant> key;
            if (which == 0) {
                table->SetIndexName("ixName");
                const auto name = RandomName().value_or("ab");
                key = {Variant(name)};
                match = [name](const TRow& R) { return R.Name && Lower(*R.Name) == Lower(name); };
                rows = Sorted("ixName");
            } else if (which == 1) {
                table->SetIndexName("ixGrpTag");
                const int grp = static_cast<int>(random() % 5);
                key = {Variant(grp)};
                match = [grp](const TRow& R) { return R.Grp == grp; };
                rows = Sorted("ixGrpTag");
            } else {
                table->SetIndexName("ixVal");
                const double val = static_cast<double>(static_cast<int>(random() % 22)) / 2.0;
                key = {Variant(val)};
                match = [val](const TRow& R) { return R.Val && *R.Val == val; };
                rows = Sorted("ixVal");
            }
            const auto first = std::find_if(rows.begin(), rows.end(), match);
            const bool found = table->FindKey(key);
            EXPECT_EQ(found, first != rows.end()) << where << " findkey " << which;
            if (found && first != rows.end()) {
                EXPECT_EQ(table->FieldByName("ID")->AsInteger(), first->ID) << where << " findkey " << which;
            }
        } else if (action < 82) {
            // A range on the compound index's leading field or on the
            // descending index.
            std::vector<int> expected, actual;
            if (random() % 2) {
                table->SetIndexName("ixGrpTag");
                const int grp = static_cast<int>(random() % 4);
                table->SetRange({grp}, {grp});
                for (const TRow& row : Sorted("ixGrpTag"))
                    if (row.Grp == grp)
                        expected.push_back(row.ID);
            } else {
                table->SetIndexName("ixVal");
                const double high = static_cast<double>(static_cast<int>(random() % 20)) / 2.0;
                const double low = high - static_cast<double>(static_cast<int>(random() % 6)) / 2.0;
                table->SetRange({high}, {low});
                for (const TRow& row : Sorted("ixVal"))
                    if (row.Val && *row.Val <= high && *row.Val >= low)
                        expected.push_back(row.ID);
            }
            for (table->First(); !table->Eof(); table->Next())
                actual.push_back(table->FieldByName("ID")->AsInteger());
            EXPECT_EQ(actual, expected) << where << " range";
            EXPECT_EQ(table->RecordCount(), static_cast<int>(expected.size())) << where << " range count";
            table->CancelRange();
        } else if (action < 92) {
            // Locate by a case-insensitive name, or by group and tag (null too).
            if (random() % 2) {
                const auto name = RandomName().value_or("B");
                std::vector<TRow> rows = Sorted("ixName");
                const auto first = std::find_if(rows.begin(), rows.end(), [&](const TRow& R) {
                    return R.Name && Lower(*R.Name) == Lower(name);
                });
                const bool found = table->Locate("Name", Variant(name), loCaseInsensitive);
                EXPECT_EQ(found, first != rows.end()) << where << " locate name " << name;
                if (found && first != rows.end()) {
                    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), first->ID) << where << " locate " << name;
                }
            } else {
                const int grp = static_cast<int>(random() % 4);
                const auto tag = RandomTag();
                std::vector<TRow> rows = Sorted("ixGrpTag");
                const auto first = std::find_if(rows.begin(), rows.end(),
                                                [&](const TRow& R) { return R.Grp == grp && R.Tag == tag; });
                const bool found =
                    table->Locate("Grp;Tag", VarArrayOf({Variant(grp), tag ? Variant(*tag) : Variant::Null()}), 0);
                EXPECT_EQ(found, first != rows.end()) << where << " locate grp/tag";
                if (found && first != rows.end()) {
                    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), first->ID) << where << " locate grp/tag";
                }
            }
        } else {
            // A bookmark survives moves elsewhere.
            if (table->IsEmpty())
                return;
            table->SetIndexName("ixID");
            table->SetRecNo(1 + static_cast<int>(random() % model.size()));
            const int id = table->FieldByName("ID")->AsInteger();
            const TBookmark mark = table->GetBookmark();
            table->Last();
            table->MoveBy(-static_cast<int>(random() % model.size()));
            table->GotoBookmark(mark);
            EXPECT_EQ(table->FieldByName("ID")->AsInteger(), id) << where << " bookmark";
        }
    }

    void Reconnect()
    {
        table->Close();
        if (fx.OnDisk()) {
            fx.Db().Close();
            fx.Db().Open();
        }
        table->Open();
    }

    TTableFixture fx;
    std::mt19937 random;
    TVekTable* table = nullptr;
    std::map<int, TRow> model;
    int nextID = 1;
    Cardinal recordIDs = 0;
};

TEST_P(TableDifferential, RandomStepsAgreeWithTheModel)
{
    CreateTable();
    for (int step = 1; step <= 1500; ++step) {
        Step(step);
        if (::testing::Test::HasFatalFailure())
            return;
        if (step % 50 == 0)
            CheckAllOrders("after step " + std::to_string(step));
        if (step % 175 == 0) {
            Reconnect();
            CheckAllOrders("after reconnecting at step " + std::to_string(step));
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Where, TableDifferential, ::testing::Values(TWhere::Disk, TWhere::Memory),
                         tabletests::WhereName);

} // namespace
} // namespace orvex
