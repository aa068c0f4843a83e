#pragma once
// A small install definition for the wizard's tests: a main form with the
// install component, one directory of three files, the dialog managers of
// every moment, the stock dialog components, and three pages of the
// program's own (welcome, a page that skips itself, ready). The install run
// is played by RunInstall: the status text, the pages before installing,
// the tree's install step (whose files report their progress and may ask
// for further disks), and the good or bad end, as the install component
// does it.

#include "host/forms/Headless.h"
#include "installer/cmp_TInstall.h"
#include "installer/exceptions_Dorvane.h"
#include "platform/WinPaths.h"
#include "setup/dlgcmp_TBadInstallationDlg.h"
#include "setup/dlgcmp_TBaseContainer.h"
#include "setup/dlgcmp_TChangeDiskDlg.h"
#include "setup/dlgcmp_TCopyFile.h"
#include "setup/dlgcmp_TInstallStatusDlg.h"
#include "setup/dlgcmp_TLicenseDlg.h"
#include "setup/dlgcmp_TReadmeDlg.h"
#include "setup/dlgcmp_TReboot.h"
#include "setup/ordlg_GoodInstallForm.h"
#include "setup/ordlg_StockPage.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace orvex {

// The program's own pages.
class TWelcomePage : public TStockInstallPage {
public:
    explicit TWelcomePage(TComponent* owner) : TStockInstallPage(owner, "Welcome", false)
    {
        Order = 10;
        AddText("lblWelcome", "Welcome to the setup program.", 8, 40);
    }
    static inline int Left = 0; // times the page was left by a tab
    void LeavePage() override { ++Left; }
};

class TSkippedPage : public TStockInstallPage {
public:
    static inline bool Skip = true;
    explicit TSkippedPage(TComponent* owner) : TStockInstallPage(owner, "Choose environments", false)
    {
        Order = 25;
    }
    bool SkipPage() override { return Skip; }
};

class TReadyPage : public TStockInstallPage {
public:
    static inline bool Skip = false;
    bool SkipPage() override { return Skip; }
    explicit TReadyPage(TComponent* owner) : TStockInstallPage(owner, "Ready to install", false)
    {
        Order = 40;
        AddText("lblReady", "Setup is ready to copy the files.", 8, 40);
    }
};

// A file of the definition: "extracting" reports its progress in two steps
// and, for a file of a split archive, asks for each further part until a
// folder holds it ("part<n>.bin"). A stopped archive ends it with the
// user's cancel, as the archive's abort does in a run.
class TWizardTestFile : public TCustomInstallFile {
public:
    using TCustomInstallFile::TCustomInstallFile;
    int LastPart = 1; // parts 2 .. LastPart are asked for
    std::vector<std::string> PartFolders;
    // Called after each progress step (the user acting meanwhile).
    static inline std::function<void(TWizardTestFile*)> AfterStep;
    void ReadInfoFromArchive() override {}
    void Install() override { TInstallObject::Install(); }
    void InstallChildren() override
    {
        std::string folder = "A:\\";
        for (int part = 2; part <= LastPart; ++part) {
            TDiskParameter disk;
            disk.PartNumber = part;
            disk.Folder = folder;
            const std::string name = "part" + std::to_string(part) + ".bin";
            while (!WinFileExists(disk.Folder + (disk.Folder.ends_with("\\") ? "" : "\\") + name)) {
                TList list;
                list.Add(static_cast<TObject*>(this));
                list.Add(static_cast<TObject*>(&disk));
                Tag = 0; // not answered yet
                Container()->DoInformationEventControl(this, ieNewDisk, &list);
            }
            PartFolders.push_back(disk.Folder);
            folder = disk.Folder;
        }
        for (int step = 1; step <= 2; ++step) {
            TDrvnCompressStatus status;
            status.FileBytesDone = static_cast<Integer>(SourceSize * step / 2);
            status.FilePercent = 50 * step;
            status.FileFinished = step == 2;
            StatusStep(status);
            Application->ProcessMessages();
            if (AfterStep)
                AfterStep(this);
            if (MainDrvnCompress()->Abort)
                throw EAIUserAbort();
        }
        TFileRelated::InstallChildren();
    }
};

class WizardFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        if (THeadlessBackend* headless = Headless())
            headless->Reset();
        MainDrvnCompress()->Abort = false;
        TSkippedPage::Skip = true;
        TReadyPage::Skip = false;
        TWelcomePage::Left = 0;
        TWizardTestFile::AfterStep = nullptr;
        RegisterWizardForms();
        BIFList().Add(FormClassOf<TWelcomePage>("TWelcomePage"), nullptr);
        BIFList().Add(FormClassOf<TSkippedPage>("TSkippedPage"), nullptr);
        BIFList().Add(FormClassOf<TReadyPage>("TReadyPage"), nullptr);
        BIFList().Add(GoodInstallFormClass(), nullptr);

        Main = new TForm(nullptr);
        Install = new TInstall(Main);
        Install->SetName("Install");
        auto manager = [this](const char* name, TManagerType type) {
            auto* m = new TDialogManager(Main);
            m->SetName(name);
            m->ManagerType = type;
            m->SetContainer(Install);
            return m;
        };
        Before = manager("dmBefore", dmBeforeInstall);
        Good = manager("dmGood", dmAfterGoodInstall);
        Bad = manager("dmBad", dmAfterBadInstall);
        Copy = manager("dmCopy", dmDuringCopyFiles);
        Disk = manager("dmDisk", dmChangeDisk);
        RebootManager = manager("dmReboot", dmReboot);
        auto dialog = [this](auto* d, const char* name, TDialogManager* m) {
            d->SetName(name);
            d->SetContainer(Install);
            if (m != nullptr)
                d->SetDialogManager(m);
            return d;
        };
        Licence = dialog(new TLicenseDlg(Main), "LicenseDlg", Before);
        Licence->LicenseAgreement()->SetText("THE AGREEMENT\r\nSecond line");
        Readme = dialog(new TReadmeDlg(Main), "ReadmeDlg", Good);
        Readme->ReadmeText()->SetText("Read me first.");
        BadDlg = dialog(new TBadInstallationDlg(Main), "BadDlg", Bad);
        CopyDlg = dialog(new TCopyFileDlg(Main), "CopyDlg", Copy);
        DiskDlg = dialog(new TChangeDiskDlg(Main), "DiskDlg", Disk);
        RebootDlg = dialog(new TRebootDlg(Main), "RebootDlg", RebootManager);
        Status = dialog(new TInstallStatusDlg(Main), "StatusDlg", nullptr);

        Dir = new TInstallDirectory(Main);
        Dir->SetName("Dir");
        Dir->SetContainer(Install);
        for (const char* name : {"engine.dll", "readme.txt", "demo.exe"}) {
            auto* file = new TWizardTestFile(Main);
            file->FileName = name;
            file->SourceSize = 1000;
            file->SetContainer(Dir);
            Files.push_back(file);
        }
    }

    void TearDown() override
    {
        delete Main;
        UnregisterWizardForms();
        if (THeadlessBackend* headless = Headless())
            headless->Reset();
        MainDrvnCompress()->Abort = false;
    }

    // The install run: what it shows and how it ends ("good" or "bad").
    std::string RunInstall()
    {
        try {
            Install->PushStatusText("Reading file information...");
            StatusShownWhileReading = Status->StatusForm() != nullptr && Status->StatusForm()->Visible();
            Install->PopStatusText();
            InstallBroadcast(Install, bmInstallStarts, nullptr);
            InstallBroadcast(Install, bmBeforeInstall, nullptr);
            Install->InstallTree(); // the tree alone; the fixture plays the rest of the run
            InstallBroadcast(Install, bmBeforeGoodInstall, nullptr);
            InstallBroadcast(Install, bmAfterGoodInstall, nullptr);
            return "good";
        } catch (EAIUserAbort&) {
            InstallBroadcast(Install, bmBeforeBadInstall, nullptr);
            InstallBroadcast(Install, bmAfterBadInstall, nullptr);
            return "bad";
        }
    }

    // A step of the script on the wizard: the button of the page shown is
    // clicked, and the page recorded as visited.
    void Press(const std::string& button)
    {
        Headless()->Do([this, button](TCustomForm* form) {
            auto* container = dynamic_cast<TBaseFormContainer*>(form);
            if (container == nullptr) {
                ADD_FAILURE() << "the wizard is not shown but " << FormTitle(form);
                return;
            }
            TBaseInstallForm* page = container->CurrentPage();
            Visited.push_back(page->ClassName());
            TControl* control = FindNamed(page, button);
            if (control == nullptr || !control->Visible() || !control->Enabled()) {
                ADD_FAILURE() << button << " cannot be clicked on " << page->ClassName();
                return;
            }
            control->Click();
        });
    }

    // Runs on the wizard's page shown, without pressing anything.
    void OnPage(std::function<void(TBaseInstallForm*)> look)
    {
        Headless()->Do([look = std::move(look)](TCustomForm* form) {
            auto* container = dynamic_cast<TBaseFormContainer*>(form);
            ASSERT_NE(container, nullptr);
            look(container->CurrentPage());
        });
    }

    static TControl* FindNamed(TWinControl* parent, const std::string& name)
    {
        for (int i = 0; i < parent->ControlCount(); ++i) {
            TControl* c = parent->Controls(i);
            if (SameText(c->Name(), name))
                return c;
            if (auto* win = dynamic_cast<TWinControl*>(c))
                if (TControl* found = FindNamed(win, name))
                    return found;
        }
        return nullptr;
    }

    TTempWindowsRoot Root;
    TForm* Main = nullptr;
    TInstall* Install = nullptr;
    TDialogManager *Before = nullptr, *Good = nullptr, *Bad = nullptr, *Copy = nullptr, *Disk = nullptr,
                   *RebootManager = nullptr;
    TLicenseDlg* Licence = nullptr;
    TReadmeDlg* Readme = nullptr;
    TBadInstallationDlg* BadDlg = nullptr;
    TCopyFileDlg* CopyDlg = nullptr;
    TChangeDiskDlg* DiskDlg = nullptr;
    TRebootDlg* RebootDlg = nullptr;
    TInstallStatusDlg* Status = nullptr;
    TInstallDirectory* Dir = nullptr;
    std::vector<TWizardTestFile*> Files;
    std::vector<std::string> Visited;
    bool StatusShownWhileReading = false;
};

} // namespace orvex
