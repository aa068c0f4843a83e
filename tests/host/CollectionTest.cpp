#include "host/Classes.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

int GLiveItems = 0;

class TPartItem : public TCollectionItem {
public:
    explicit TPartItem(TCollection* collection) : TCollectionItem(collection) { ++GLiveItems; }
    ~TPartItem() override { --GLiveItems; }

    std::string Caption;
    void Assign(TPersistent* source) override
    {
        if (auto* other = dynamic_cast<TPartItem*>(source)) {
            Caption = other->Caption;
            return;
        }
        TCollectionItem::Assign(source);
    }
    std::string DisplayName() const override { return Caption.empty() ? TCollectionItem::DisplayName() : Caption; }
    void Touch() { Changed(false); }
};

// Records Notify and Update calls.
class TPartCollection : public TCollection {
public:
    TPartCollection() : TCollection(ItemClassOf<TPartItem>()) {}
    ~TPartCollection() override { Clear(); } // so the overrides hear the items go

    TPartItem* AddPart(const std::string& caption)
    {
        auto* item = static_cast<TPartItem*>(Add());
        item->Caption = caption;
        return item;
    }
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < Count(); ++i)
            out.push_back(static_cast<TPartItem*>(Items(i))->Caption);
        return out;
    }
    std::vector<int> IDs() const
    {
        std::vector<int> out;
        for (int i = 0; i < Count(); ++i)
            out.push_back(Items(i)->ID());
        return out;
    }
    std::vector<std::string> Log;

protected:
    void Update(TCollectionItem* item) override
    {
        Log.push_back(item == nullptr ? "update all" : "update " + std::to_string(item->ID()));
    }
    void Notify(TCollectionItem* item, TCollectionNotification action) override
    {
        static const char* names[] = {"added", "extracting", "deleting"};
        Log.push_back(std::string(names[action]) + " " + std::to_string(item->ID()));
    }
};

TEST(CollectionTest, ItemsAndIndices)
{
    TPartCollection parts;
    TPartItem* a = parts.AddPart("a");
    parts.AddPart("b");
    auto* c = static_cast<TPartItem*>(parts.Insert(0));
    c->Caption = "c";
    EXPECT_EQ(parts.Captions(), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(a->Index(), 1);
    EXPECT_EQ(a->Collection(), &parts);
    a->SetIndex(2);
    EXPECT_EQ(parts.Captions(), (std::vector<std::string>{"c", "b", "a"}));
    parts.Delete(0);
    EXPECT_EQ(parts.Captions(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(parts.Items(1), a);

    EXPECT_RAISES(parts.Items(2), EListError, "List index out of bounds (2)");
    EXPECT_RAISES(parts.Delete(-1), EListError, "List index out of bounds (-1)");
    EXPECT_RAISES(a->SetIndex(5), EListError, "List index out of bounds (5)");
    EXPECT_RAISES(parts.Insert(3), EListError, "List index out of bounds (3)");
    EXPECT_EQ(parts.Count(), 2); // the bad Insert added nothing
}

TEST(CollectionTest, IDsRiseAndAreNeverReused)
{
    TPartCollection parts;
    for (const char* s : {"a", "b", "c"})
        parts.AddPart(s);
    EXPECT_EQ(parts.IDs(), (std::vector<int>{0, 1, 2}));
    parts.Delete(2);
    parts.Delete(0);
    parts.AddPart("d");
    parts.Insert(0);
    EXPECT_EQ(parts.IDs(), (std::vector<int>{4, 1, 3}));
    parts.Clear();
    EXPECT_EQ(parts.Add()->ID(), 5);
    EXPECT_EQ(parts.NextID(), 6);

    EXPECT_EQ(parts.FindItemID(5), parts.Items(0));
    EXPECT_EQ(parts.FindItemID(1), nullptr);
}

TEST(CollectionTest, ItemsAreOwnedAndFreed)
{
    GLiveItems = 0;
    {
        TCollection parts(ItemClassOf<TPartItem>());
        for (int i = 0; i < 4; ++i)
            parts.Add();
        EXPECT_EQ(GLiveItems, 4);
        parts.Delete(1);
        EXPECT_EQ(GLiveItems, 3);
        delete parts.Items(0); // an item freed directly leaves its collection
        EXPECT_EQ(parts.Count(), 2);
        EXPECT_EQ(GLiveItems, 2);
    }
    EXPECT_EQ(GLiveItems, 0);
}

TEST(CollectionTest, SetCollectionMovesAnItemWithANewID)
{
    TPartCollection from;
    TPartCollection to;
    to.AddPart("x");
    to.AddPart("y");
    TPartItem* a = from.AddPart("a");
    from.AddPart("b");
    a->SetCollection(&to);
    EXPECT_EQ(from.Captions(), (std::vector<std::string>{"b"}));
    EXPECT_EQ(to.Captions(), (std::vector<std::string>{"x", "y", "a"}));
    EXPECT_EQ(a->ID(), 2);
    EXPECT_EQ(a->Collection(), &to);

    a->SetCollection(nullptr); // detached: now the caller's to free
    EXPECT_EQ(a->Index(), -1);
    EXPECT_EQ(to.Count(), 2);
    delete a;
    EXPECT_EQ(to.Count(), 2);
}

TEST(CollectionTest, NotifyAndUpdateOrder)
{
    TPartCollection parts;
    parts.AddPart("a");
    TPartItem* b = parts.AddPart("b");
    parts.Log.clear();

    b->Touch();
    b->SetIndex(0);
    parts.Delete(1);
    EXPECT_EQ(parts.Log, (std::vector<std::string>{"update 1", "update all", "deleting 0",
                                                   "extracting 0", "update all"}));

    // Inside an update bracket: no Update until the end, then one.
    parts.Log.clear();
    parts.BeginUpdate();
    parts.AddPart("c");
    b->Touch();
    parts.Clear();
    EXPECT_EQ(parts.Log, (std::vector<std::string>{"added 2", "extracting 2", "extracting 1"}));
    parts.EndUpdate();
    EXPECT_EQ(parts.Log.back(), "update all");
    EXPECT_EQ(parts.UpdateCount(), 0);
}

TEST(CollectionTest, AssignClearsAndCopiesEachItem)
{
    TPartCollection source;
    source.AddPart("one");
    source.AddPart("two");
    TPartCollection target;
    target.AddPart("old");
    target.Log.clear();
    target.Assign(&source);
    EXPECT_EQ(target.Captions(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(target.IDs(), (std::vector<int>{1, 2}));
    EXPECT_EQ(target.Log, (std::vector<std::string>{"extracting 0", "added 1", "added 2", "update all"}));

    // Items that cannot copy each other make Assign fail.
    TCollection plain(ItemClassOf<TCollectionItem>());
    plain.Add();
    EXPECT_RAISES(target.Assign(&plain), EConvertError, "Cannot assign a TCollectionItem to a TPartItem");
    EXPECT_EQ(target.UpdateCount(), 0);

    TStringList strings;
    EXPECT_RAISES(target.Assign(&strings), EConvertError, "Cannot assign a TStringList to a TPartCollection");
}

TEST(CollectionTest, DisplayNameDefaultsToTheClassName)
{
    TPartCollection parts;
    TPartItem* item = parts.AddPart("");
    EXPECT_EQ(item->DisplayName(), "TPartItem");
    item->Caption = "shown";
    EXPECT_EQ(item->DisplayName(), "shown");
}

} // namespace
} // namespace orvex
