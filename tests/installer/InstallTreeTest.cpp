#include "host/forms/Forms.h"
#include "installer/cmp_TInstall.h"
#include "installer/cmp_TInstallContainer.h"
#include "installer/exceptions_Dorvane.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

// What the receivers and recorders saw, in order.
std::vector<std::string>& Log()
{
    static std::vector<std::string> log;
    return log;
}

// A dialog object: a direct child of the install component that hears the
// broadcasts.
class TTestDialog : public TInstallObject {
public:
    using TInstallObject::TInstallObject;
    Integer KindCode() const override { return kcDialog; }
    void ReceiveMessage(TObject* sender, Integer code, TObject* parameter) override
    {
        std::string entry = Name() + ":" + std::to_string(code);
        if (auto* message = dynamic_cast<TMessageParameter*>(parameter))
            entry += ":" + message->Text;
        if (auto* status = dynamic_cast<TFileStatusParameter*>(parameter))
            entry += ":" + std::to_string(status->ContainerBytesDone) + "/" + std::to_string(status->ContainerPercent);
        Log().push_back(entry);
    }
};

// An install file whose install step only reports: a status of half the
// file, then the file finished.
class TTestFile : public TCustomInstallFile {
public:
    using TCustomInstallFile::TCustomInstallFile;
    void ReadInfoFromArchive() override {}
    void Install() override
    {
        TInstallObject::Install();
    }
    void InstallChildren() override
    {
        Log().push_back("install " + Name());
        for (int step = 1; step <= 2; ++step) {
            TDrvnCompressStatus status;
            status.FileBytesDone = static_cast<Integer>(SourceSize * step / 2);
            status.FilePercent = 50 * step;
            status.FileFinished = step == 2;
            StatusStep(status);
        }
        TFileRelated::InstallChildren();
    }
};

// A directory that records the information events it passes on.
class TRecordingDirectory : public TInstallDirectory {
public:
    using TInstallDirectory::TInstallDirectory;
    void DoInformationEventControl(TObject* sender, Integer code, TObject* parameter) override
    {
        Log().push_back(Name() + " event " + std::to_string(code));
        TInstallDirectory::DoInformationEventControl(sender, code, parameter);
    }
};

class InstallTreeTest : public ::testing::Test {
protected:
    void SetUp() override { Log().clear(); }
    void TearDown() override { delete Form; }

    // Builds on the form in the loading state; Done() ends loading.
    template <class T>
    T* Make(const std::string& name, TInstallContainer* container = nullptr)
    {
        auto* object = new T(Form);
        object->SetName(name);
        if (auto* installObject = dynamic_cast<TInstallObject*>(object); installObject && container)
            installObject->SetContainer(container);
        return object;
    }
    void Begin() { Form->BeginLoading(); }
    void Done() { Form->EndLoading(); }

    std::vector<std::string> ChildNames(TInstallContainer* container)
    {
        std::vector<std::string> names;
        for (int i = 0; i < container->ChildCount(); ++i)
            names.push_back(container->Children(i)->Name());
        return names;
    }

    TTempWindowsRoot Root;
    TForm* Form = new TForm(nullptr);
};

TEST_F(InstallTreeTest, ChildrenSortByTypeCodeAndTheLastAddedComesFirst)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    Make<TTestFile>("A", dir);
    Make<TTestFile>("B", dir);
    Make<TTestFile>("C", dir);
    Make<TTestDialog>("Dlg", install);
    Make<TInstallGroup>("Group", install);
    Done();

    EXPECT_EQ(ChildNames(dir), (std::vector<std::string>{"C", "B", "A"}));
    EXPECT_EQ(ChildNames(install), (std::vector<std::string>{"Group", "Dir", "Dlg"}));

    install->InstallTree();
    std::vector<std::string> installs;
    for (const std::string& line : Log())
        if (line.rfind("install ", 0) == 0)
            installs.push_back(line);
    EXPECT_EQ(installs, (std::vector<std::string>{"install C", "install B", "install A"}));
    EXPECT_TRUE(dir->Processed);
}

TEST_F(InstallTreeTest, OrderMovesAnObjectInFrontOfItsTypeCode)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    auto* a = Make<TTestFile>("A", dir);
    Make<TTestFile>("B", dir);
    Done();
    ASSERT_EQ(ChildNames(dir), (std::vector<std::string>{"B", "A"}));
    a->SetOrder(3);
    EXPECT_EQ(a->Order(), 3);
    EXPECT_EQ(ChildNames(dir), (std::vector<std::string>{"A", "B"}));

    auto* loose = new TTestFile(Form);
    loose->SetOrder(7); // without a container the value stays
    EXPECT_EQ(loose->Order(), -1);
}

TEST_F(InstallTreeTest, CircularReferencesAreRefused)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* outer = Make<TInstallDirectory>("Outer", install);
    auto* inner = Make<TInstallDirectory>("Inner", outer);
    Done();

    for (auto [object, container] : std::vector<std::pair<TInstallObject*, TInstallContainer*>>{
             {outer, outer}, {outer, inner}}) {
        try {
            object->SetContainer(container);
            ADD_FAILURE() << "no error";
        } catch (const IEInstallContainer& e) {
            EXPECT_EQ(e.Message(), "Circular reference");
        }
    }
    EXPECT_EQ(inner->Container(), outer);
    EXPECT_EQ(outer->Container(), install);
    EXPECT_EQ(ChildNames(outer), (std::vector<std::string>{"Inner"}));
}

TEST_F(InstallTreeTest, BroadcastsReachOnlyTheInstallComponentsReceivers)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    Make<TTestDialog>("Top", install);
    Make<TTestDialog>("Nested", dir); // not a direct child of the install component
    Done();

    dir->PushStatusText("Reading file information...");
    dir->PopStatusText();
    EXPECT_EQ(Log(), (std::vector<std::string>{"Top:-974:Reading file information...", "Top:-973"}));

    Log().clear();
    dir->Install();
    EXPECT_EQ(Log(), (std::vector<std::string>{"Top:-990", "Top:-999", "Top:-992", "Top:-996", "Top:-989"}));
}

TEST_F(InstallTreeTest, ExcludedFamiliesAndInstallTypes)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* nt = Make<TInstallDirectory>("NTOnly", install);
    nt->OS = TOSVerTypes{oswinNT, oswin2K, oswinXP};
    auto* compact = Make<TInstallDirectory>("CompactOnly", install);
    compact->SetInstallTypes(TInstallTypes{itCompact});
    auto* none = Make<TInstallDirectory>("NoTypes", install);
    none->SetInstallTypes(TInstallTypes{});
    Done();
    EXPECT_EQ(none->InstallTypes(), TInstallTypes{itFull});

    std::vector<std::string> after;
    for (TInstallContainer* c : std::vector<TInstallContainer*>{nt, compact, none})
        c->OnAfterProcess = [&after](TObject* sender) { after.push_back(static_cast<TComponent*>(sender)->Name()); };

    EmulateWindows(TWinEdition::Win98);
    install->SetChosenInstallTypeTree(itDefault);
    install->InstallTree();
    EXPECT_FALSE(nt->Include); // excluded for the rest of the run
    EXPECT_TRUE(after.empty());
    EXPECT_FALSE(compact->Processed);

    after.clear();
    EmulateWindows(TWinEdition::WinXP);
    install->SetChosenInstallTypeTree(itCustom);
    install->InstallTree();
    EXPECT_EQ(after, (std::vector<std::string>{"NoTypes", "CompactOnly"}));
    EXPECT_FALSE(nt->Include);
}

TEST_F(InstallTreeTest, ContainersTotalTheirFilesAndRelayTheEvents)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    Make<TTestDialog>("Dlg", install);
    auto* outer = Make<TRecordingDirectory>("Outer", install);
    auto* dir = Make<TRecordingDirectory>("Dir", outer);
    auto* a = Make<TTestFile>("A", dir);
    auto* b = Make<TTestFile>("B", dir);
    auto* empty = Make<TRecordingDirectory>("Empty", outer);
    Done();
    a->SourceSize = 100;
    b->SourceSize = 300;

    std::vector<Integer> percents;
    dir->OnStatus = [&percents](TObject*, Integer filePercent, const std::string&) { percents.push_back(filePercent); };
    outer->Install();

    std::vector<std::string> statuses;
    std::vector<std::string> emptyEvents;
    for (const std::string& line : Log()) {
        if (line.rfind("Dlg:-998", 0) == 0)
            statuses.push_back(line);
        if (line.rfind("Outer event", 0) == 0 && line != "Outer event 1008")
            emptyEvents.push_back(line);
    }
    // B comes first (added last): 150 of 400, then all of B, then A on top.
    // The outer container relays the same status with its own totals.
    // Each step: the file's own broadcast, then the directory's and the
    // outer container's with their totals.
    EXPECT_EQ(statuses, (std::vector<std::string>{"Dlg:-998:0/0", "Dlg:-998:150/37", "Dlg:-998:150/37",
                                                  "Dlg:-998:0/0", "Dlg:-998:300/75", "Dlg:-998:300/75",
                                                  "Dlg:-998:0/0", "Dlg:-998:350/87", "Dlg:-998:350/87",
                                                  "Dlg:-998:0/0", "Dlg:-998:400/100", "Dlg:-998:400/100"}));
    EXPECT_EQ(percents, (std::vector<Integer>{50, 100, 50, 100}));
    EXPECT_EQ(dir->BytesDone(), 400);
    // The empty container still starts and ends its work, with a total of 0.
    EXPECT_EQ(emptyEvents, (std::vector<std::string>{"Outer event 1012", "Outer event 1013", "Outer event 1012",
                                                     "Outer event 1013"}));
    EXPECT_EQ(empty->TotalSize(), 0);
    EXPECT_FALSE(dir->Busy());
}

TEST_F(InstallTreeTest, BadInformationEventsRaise)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    auto* file = Make<TTestFile>("F", dir);
    Done();

    auto errorOf = [&](Integer code, TObject* parameter) -> std::string {
        std::string message = "(no error)";
        auto saved = dir->OnBeforeInstallObjects;
        dir->OnBeforeInstallObjects = [&](TObject*) {
            try {
                dir->DoInformationEventControl(file, code, parameter);
            } catch (const IEFileContainer& e) {
                message = e.Message();
            }
        };
        dir->InstallChildren();
        dir->OnBeforeInstallObjects = saved;
        return message;
    };
    TList shortList;
    shortList.Add(static_cast<TObject*>(file));
    TList badFirst;
    TDiskParameter disk;
    badFirst.Add(static_cast<TObject*>(&disk));
    badFirst.Add(static_cast<TObject*>(&disk));
    TList badSecond;
    badSecond.Add(static_cast<TObject*>(file));
    badSecond.Add(static_cast<TObject*>(file));
    TMessageParameter message;

    EXPECT_EQ(errorOf(ieInstallStatus, nullptr), "Dir got a nil PO parameter");
    EXPECT_EQ(errorOf(ieInstallStatus, &message), "DoInformationEventControl--PO is not a TList object");
    EXPECT_EQ(errorOf(ieInstallStatus, &shortList), "DoInformationEventControl--Not engouh parameters for status event");
    EXPECT_EQ(errorOf(ieInstallStatus, &badFirst), "DoInformationEventControl says bad first parameter");
    EXPECT_EQ(errorOf(ieNewDisk, &badSecond), "DoInformationEventControl says bad second parameter");
    EXPECT_EQ(errorOf(ieReplacing, &message), "DoInformationEventControl parameter is not TInstallFile");
    EXPECT_EQ(errorOf(ieDownloadStatus, &message),
              "The PO object passed to Dir is not a TDownloadStatusParameter object");
    // Outside a busy container the events are ignored.
    EXPECT_NO_THROW(dir->DoInformationEventControl(file, ieInstallStatus, nullptr));
}

TEST_F(InstallTreeTest, IndexErrorsAndTheOneInstallComponent)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    Make<TInstallDirectory>("Dir2", install);
    Done();
    EXPECT_EQ(Form->FindComponent("psFileContainer") != nullptr, true);
    EXPECT_EQ(Form->FindComponent("psFileContainer1") != nullptr, true);
    EXPECT_EQ(dir->FileContainerSpecifier()->Name(), "psFileContainer");

    try {
        install->Children(5);
        ADD_FAILURE();
    } catch (const IEInstallContainer& e) {
        EXPECT_EQ(e.Message(), "Tried to reference a helper component in the following component: Install. The "
                               "following index was used: 5");
    }
    try {
        install->ChildOfKind(0, kcInstallFile);
        ADD_FAILURE();
    } catch (const IEInstallContainer& e) {
        EXPECT_EQ(e.Message(), "Bad call to the Comp procedure which returns a TInstallObject for a TInstallContainer "
                               "component. The parameters are probably reversed. Index: 0, ComponentType: 2000");
    }
    TInstallContainer plain(nullptr);
    EXPECT_THROW(plain.KindCode(), IEInstallContainer);
    EXPECT_THROW(install->AddInstallObject(nullptr), IEInstallContainer);
    EXPECT_THROW(new TInstall(Form), IEInstall);
    EXPECT_EQ(GetInstall(), install);

    // A destroyed child leaves its container's list.
    delete dir;
    EXPECT_EQ(ChildNames(install), (std::vector<std::string>{"Dir2"}));
}

TEST_F(InstallTreeTest, GroupsOnlyUnderTheInstallComponentOrGroups)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* dir = Make<TInstallDirectory>("Dir", install);
    auto* group = Make<TInstallGroup>("Group", install);
    auto* loose = Make<TInstallGroup>("Loose");
    Done();
    EXPECT_EQ(loose->Container(), install); // a group without container joins the install component
    EXPECT_THROW(group->SetContainer(dir), IEInstallGroup);
    EXPECT_NO_THROW(group->SetContainer(loose));
    EXPECT_EQ(group->Container(), loose);
}

// A directory that tells where it writes its uninstall information.
class TUninstallDirectory : public TInstallDirectory {
public:
    using TInstallDirectory::TInstallDirectory;
    void WriteUninstallInfo(const std::string& keyPath) override { Log().push_back("uninstall " + keyPath); }
};

TEST_F(InstallTreeTest, ASilentAbortSkipsAnObjectAndUninstallInformationUsesTheProduct)
{
    Begin();
    auto* install = Make<TInstall>("Install");
    auto* skipped = Make<TUninstallDirectory>("Skipped", install);
    auto* kept = Make<TUninstallDirectory>("Kept", install);
    auto* quiet = Make<TUninstallDirectory>("Quiet", install);
    Done();
    install->Information()->ProductName = "Orvex";
    quiet->Uninstall_ = false;
    bool after = false;
    skipped->OnBeforeProcess = [](TObject*) { Abort(); };
    skipped->OnAfterProcess = [&after](TObject*) { after = true; };
    EXPECT_NO_THROW(install->InstallTree());
    EXPECT_FALSE(after);
    EXPECT_FALSE(skipped->Processed);
    EXPECT_TRUE(kept->Processed);
    EXPECT_TRUE(quiet->Processed);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "uninstall \\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvex"}));

    kept->OnBeforeProcess = [](TObject*) { throw EDorvaneAbnormal("loud"); };
    EXPECT_THROW(kept->Install(), EDorvaneAbnormal);
}

TEST_F(InstallTreeTest, InstallFilesTakeTheLowestFreeIDAndA2001stIsRefused)
{
    std::vector<TTestFile*> files;
    for (int i = 0; i < 2000; ++i)
        files.push_back(new TTestFile(Form));
    EXPECT_EQ(files[0]->UniqueID(), 0);
    EXPECT_EQ(files[1999]->UniqueID(), 1999);
    EXPECT_THROW(new TTestFile(Form), IECustomInstallFileList);
    delete files[7];
    auto* again = new TTestFile(Form);
    EXPECT_EQ(again->UniqueID(), 7);
}

TEST(SafePercentTest, NeverDividesByZero)
{
    EXPECT_EQ(SafePercent(0, 0), 0);
    EXPECT_EQ(SafePercent(5, 0), 0);
    EXPECT_EQ(SafePercent(1, 3), 33);
    EXPECT_EQ(SafePercent(3, 3), 100);
    EXPECT_EQ(SafePercent(4, 3), 100);
    EXPECT_EQ(SafePercent(3'000'000'000LL, 4'000'000'000LL), 75);
}

} // namespace
} // namespace orvex
