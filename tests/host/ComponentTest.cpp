#include "host/Classes.h"

#include "ClassesTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

// A component that writes its life and what it hears to a shared log.
class TLogged : public TComponent {
public:
    TLogged(TComponent* owner, const std::string& name, std::vector<std::string>* log)
        : TComponent(owner), FLog(log)
    {
        SetName(name);
    }
    ~TLogged() override { FLog->push_back("free " + Name()); }

    TComponent* Partner = nullptr; // cleared when the partner goes
    bool WasLoaded = false;
    bool LoadingSeenInLoaded = false;
    bool ReadingSeenInLoaded = true;

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        TComponent::Notification(component, operation);
        FLog->push_back(Name() + (operation == opInsert ? " hears insert " : " hears remove ") +
                        component->Name());
        if (operation == opRemove && component == Partner)
            Partner = nullptr;
    }
    void Loaded() override
    {
        LoadingSeenInLoaded = HasState(csLoading);
        ReadingSeenInLoaded = HasState(csReading);
        TComponent::Loaded();
        WasLoaded = true;
        FLog->push_back("loaded " + Name());
    }

private:
    std::vector<std::string>* FLog;
};

TEST(ComponentTest, OwnerFreesWhatItOwnsLastFirst)
{
    std::vector<std::string> log;
    auto* form = new TLogged(nullptr, "Form", &log);
    new TLogged(form, "A", &log);
    auto* b = new TLogged(form, "B", &log);
    new TLogged(b, "B1", &log);
    new TLogged(form, "C", &log);
    EXPECT_EQ(form->ComponentCount(), 3);
    EXPECT_EQ(b->ComponentIndex(), 1);
    EXPECT_EQ(form->Components(2)->Name(), "C");
    EXPECT_EQ(form->ComponentIndex(), -1);
    log.clear();
    delete form;
    EXPECT_EQ(log, (std::vector<std::string>{"free Form", "free C", "free B", "free B1", "free A"}));
}

TEST(ComponentTest, NamesAreUniqueWithinAnOwnerIgnoringCase)
{
    std::vector<std::string> log;
    TLogged form(nullptr, "Form", &log);
    auto* table = new TLogged(&form, "Table1", &log);
    auto* query = new TLogged(&form, "Query1", &log);
    auto* unnamed = new TComponent(&form);

    EXPECT_EQ(form.FindComponent("TABLE1"), table);
    EXPECT_EQ(form.FindComponent("query1"), query);
    EXPECT_EQ(form.FindComponent(""), nullptr);
    EXPECT_EQ(form.FindComponent("Missing"), nullptr);

    EXPECT_RAISES(query->SetName("table1"), EComponentError, "A component named table1 already exists");
    EXPECT_EQ(query->Name(), "Query1");
    query->SetName("QUERY1"); // its own name in another case
    EXPECT_EQ(query->Name(), "QUERY1");
    unnamed->SetName("Other");
    new TComponent(&form); // any number of unnamed components
    new TComponent(&form);

    // Inserting a component whose name the owner already has is refused.
    TComponent stray(nullptr);
    stray.SetName("Table1");
    EXPECT_RAISES(form.InsertComponent(&stray), EComponentError, "A component named Table1 already exists");
    EXPECT_EQ(stray.Owner(), nullptr);

    // Without an owner, any name goes.
    TComponent a(nullptr), b(nullptr);
    a.SetName("Same");
    b.SetName("Same");
    a.Tag = 42;
    EXPECT_EQ(a.Tag, 42);
}

TEST(ComponentTest, OwnerHearsInsertAndRemoveAndPassesThemOn)
{
    std::vector<std::string> log;
    TLogged form(nullptr, "Form", &log);
    auto* a = new TLogged(&form, "A", &log);
    TLogged stray(nullptr, "S", &log);
    log.clear();

    form.InsertComponent(&stray);
    EXPECT_EQ(stray.Owner(), &form);
    form.RemoveComponent(&stray);
    EXPECT_EQ(stray.Owner(), nullptr);
    EXPECT_EQ(form.ComponentCount(), 1);
    // The owner hears first (the base passes it on before the override logs).
    EXPECT_EQ(log, (std::vector<std::string>{"A hears insert S", "S hears insert S", "Form hears insert S",
                                             "A hears remove S", "S hears remove S", "Form hears remove S"}));

    // A sibling freed on its own: the owner and the others hear of it.
    a->Partner = new TLogged(&form, "P", &log);
    log.clear();
    delete form.FindComponent("P");
    EXPECT_EQ(a->Partner, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"free P", "A hears remove P", "Form hears remove P"}));
}

TEST(ComponentTest, FreeNotificationTellsEveryComponentThatAsked)
{
    std::vector<std::string> log;
    auto* formA = new TLogged(nullptr, "FormA", &log);
    auto* formB = new TLogged(nullptr, "FormB", &log);
    auto* database = new TLogged(formA, "Db", &log);
    auto* table1 = new TLogged(formB, "T1", &log);
    auto* table2 = new TLogged(nullptr, "T2", &log);
    auto* table3 = new TLogged(nullptr, "T3", &log);
    for (TLogged* t : {table1, table2, table3}) {
        t->Partner = database;
        database->FreeNotification(t);
    }
    database->FreeNotification(table1); // asking twice links once
    database->RemoveFreeNotification(table3);
    EXPECT_TRUE(database->HasState(csFreeNotification));
    log.clear();

    delete database;
    EXPECT_EQ(table1->Partner, nullptr);
    EXPECT_EQ(table2->Partner, nullptr);
    EXPECT_EQ(table3->Partner, database); // unlinked: not told
    EXPECT_EQ(log, (std::vector<std::string>{"free Db", "T2 hears remove Db", "T1 hears remove Db",
                                             "FormA hears remove Db"}));

    // The link runs both ways: the database had been told of the tables too,
    // and no pointer to the freed database is left behind.
    log.clear();
    delete table1;
    delete table2;
    EXPECT_EQ(log, (std::vector<std::string>{"free T1", "FormB hears remove T1", "free T2"}));
    delete table3;
    delete formA;
    delete formB;
}

// A component whose Notification ignores the inherited one.
class TDeaf : public TComponent {
public:
    using TComponent::TComponent;
    int Heard = 0;

protected:
    void Notification(TComponent*, TOperation) override { ++Heard; }
};

TEST(ComponentTest, FreeNotificationLinkIsUndoneEvenWithoutTheInheritedCall)
{
    auto* deaf = new TDeaf(nullptr);
    auto* source = new TComponent(nullptr);
    source->FreeNotification(deaf);
    delete source;
    EXPECT_EQ(deaf->Heard, 1);
    delete deaf; // must not reach the freed source (AddressSanitizer watches)
}

TEST(ComponentTest, SiblingsWithFreeNotificationAreRemovedWithNoticeWhenTheOwnerGoes)
{
    std::vector<std::string> log;
    auto* form = new TLogged(nullptr, "Form", &log);
    auto* a = new TLogged(form, "A", &log);
    auto* b = new TLogged(form, "B", &log);
    auto* outside = new TLogged(nullptr, "X", &log);
    b->FreeNotification(outside);
    a->Partner = b;
    log.clear();
    delete form;
    // B is linked, so the owner removes it with notice (to its own components,
    // B among them) before freeing it; A goes silently.
    EXPECT_EQ(log, (std::vector<std::string>{"free Form", "A hears remove B", "B hears remove B",
                                             "free B", "X hears remove B", "free A"}));
    delete outside;
}

TEST(ComponentTest, StatesPassToOwnedComponents)
{
    std::vector<std::string> log;
    TLogged form(nullptr, "Form", &log);
    auto* a = new TLogged(&form, "A", &log);
    form.SetDesigning(true);
    EXPECT_TRUE(a->HasState(csDesigning));
    auto* b = new TLogged(&form, "B", &log); // joins a designing owner
    EXPECT_TRUE(b->HasState(csDesigning));
    form.SetDesigning(false);
    EXPECT_EQ(b->ComponentState() & csDesigning, 0u);

    log.clear();
    form.BeginLoading();
    EXPECT_TRUE(a->HasState(csLoading) && a->HasState(csReading));
    auto* c = new TLogged(&form, "C", &log); // created while the owner reads
    EXPECT_TRUE(c->HasState(csLoading));
    form.EndLoading();
    // C is told of its own insertion before its constructor has run (and before
    // it has its name), so only the others log it.
    EXPECT_EQ(log, (std::vector<std::string>{"A hears insert ", "B hears insert ", "Form hears insert ",
                                             "loaded Form", "loaded A", "loaded B", "loaded C"}));
    for (TLogged* x : {&form, a, b, c}) {
        EXPECT_TRUE(x->WasLoaded);
        EXPECT_TRUE(x->LoadingSeenInLoaded);  // csLoading still set inside Loaded
        EXPECT_FALSE(x->ReadingSeenInLoaded); // reading over for all first
        EXPECT_EQ(x->ComponentState() & (csLoading | csReading), 0u);
    }
}

// Sets a flag when its destructor finds csDestroying set.
class TWatcher : public TComponent {
public:
    TWatcher(TComponent* owner, bool* sawDestroying) : TComponent(owner), FSaw(sawDestroying) {}
    ~TWatcher() override { *FSaw = HasState(csDestroying); }

private:
    bool* FSaw;
};

TEST(ComponentTest, OwnedComponentsAreDestroyingWhenFreed)
{
    bool saw = false;
    auto* owner = new TComponent(nullptr);
    new TWatcher(owner, &saw);
    delete owner;
    EXPECT_TRUE(saw);
}

TEST(ComponentTest, ComponentsIndexErrors)
{
    TComponent owner(nullptr);
    EXPECT_RAISES(owner.Components(0), EListError, "List index out of bounds (0)");
}

} // namespace
} // namespace orvex
