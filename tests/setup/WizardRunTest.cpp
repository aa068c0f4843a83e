#include "tests/setup/WizardFixture.h"

#include "setup/ordlg_BadInstallForm.h"
#include "setup/ordlg_CopyFile.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using Strings = std::vector<std::string>;

class WizardRunTest : public WizardFixture {};

TEST_F(WizardRunTest, AGoodRunWalksThePagesShowsProgressAndEndsWell)
{
    std::vector<std::string> progress;
    TWizardTestFile::AfterStep = [&](TWizardTestFile* file) {
        const auto& windows = Copy->OpenProgressWindows();
        ASSERT_EQ(windows.size(), 1u);
        auto* window = dynamic_cast<TCopyFileForm*>(windows[0]);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->Visible());
        progress.push_back(window->lblCurrentFile->Caption() + " " + std::to_string(window->pbFile->Position()) +
                           " " + std::to_string(window->pbTotal->Position()));
    };
    OnPage([](TBaseInstallForm* page) {
        auto* welcome = dynamic_cast<TStockInstallPage*>(page);
        ASSERT_NE(welcome, nullptr);
        EXPECT_EQ(page->ClassName(), "TWelcomePage");
        EXPECT_FALSE(welcome->btnPrevious->Visible()); // the first page
        EXPECT_EQ(page->PageContainer()->Caption(), "Welcome");
        EXPECT_EQ(GetParentForm(welcome->btnNext)->ActiveControl(), welcome->btnNext);
    });
    Press("btnNext");
    OnPage([](TBaseInstallForm* page) {
        auto* licence = dynamic_cast<TLicenseForm*>(page);
        ASSERT_NE(licence, nullptr);
        EXPECT_EQ(licence->reAgreement->Lines()->Get(0), "THE AGREEMENT");
        EXPECT_TRUE(licence->reAgreement->ReadOnly());
        EXPECT_EQ(licence->btnNext->Caption(), "Accept >");
        EXPECT_TRUE(licence->btnNext->Default());
        EXPECT_TRUE(licence->btnPrevious->Visible());
        EXPECT_EQ(page->DC, page->PageContainer()->Pages(1)->DC);
        EXPECT_EQ(page->PageContainer()->Caption(), "Software license agreement");
    });
    Press("btnPrevious"); // back to the welcome page
    Press("btnNext");
    Press("btnNext"); // the licence accepted: the skipped page is passed over
    Press("btnPrevious"); // and passed over going back
    Press("btnNext");
    Press("btnNext"); // the last page: the wizard is done
    Press("btnNext"); // the good-install page
    Press("btnNext"); // the readme page: done

    EXPECT_EQ(RunInstall(), "good");
    EXPECT_EQ(Headless()->PendingSteps(), 0);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm", "TWelcomePage", "TLicenseForm", "TReadyPage",
                                "TLicenseForm", "TReadyPage", "TGoodInstallForm", "TReadmeForm"}));
    // Three files of 1000 bytes, each in two steps.
    EXPECT_EQ(progress, (Strings{"demo.exe 50 16", "demo.exe 100 33", "readme.txt 50 50", "readme.txt 100 66",
                                 "engine.dll 50 83", "engine.dll 100 100"}));
    EXPECT_TRUE(Copy->OpenProgressWindows().empty()); // closed at the end of the copy
    EXPECT_TRUE(StatusShownWhileReading);
    EXPECT_FALSE(Status->StatusForm()->Visible());
    EXPECT_EQ(DorvaneFormList().size(), 1u); // only the status window is left
}

// Cancels at one point of the run; the run must end in the bad-install page.
struct TCancelCase {
    const char* Where;
    std::function<void(WizardRunTest&)> Script;
    Strings Visited; // the pages seen before the bad-install page
};

TEST_F(WizardRunTest, ACancelOnEachPageEndsInTheBadInstallPage)
{
    const TCancelCase cases[] = {
        {"welcome", [](WizardRunTest& t) { t.Press("btnCancel"); }, {"TWelcomePage"}},
        {"licence",
         [](WizardRunTest& t) {
             t.Press("btnNext");
             t.Press("btnCancel");
         },
         {"TWelcomePage", "TLicenseForm"}},
        {"ready",
         [](WizardRunTest& t) {
             t.Press("btnNext");
             t.Press("btnNext");
             t.Press("btnCancel");
         },
         {"TWelcomePage", "TLicenseForm", "TReadyPage"}},
        {"copy progress",
         [](WizardRunTest& t) {
             t.Press("btnNext");
             t.Press("btnNext");
             t.Press("btnNext");
             TWizardTestFile::AfterStep = [&t](TWizardTestFile*) {
                 auto* window = dynamic_cast<TCopyFileForm*>(t.Copy->OpenProgressWindows().at(0));
                 window->btnCancel->Click();
             };
         },
         {"TWelcomePage", "TLicenseForm", "TReadyPage"}},
        {"change disk",
         [](WizardRunTest& t) {
             t.Press("btnNext");
             t.Press("btnNext");
             t.Press("btnNext");
             t.Files[0]->LastPart = 2;
             Headless()->ForForm("TChangeDiskForm").Click("btnCancel").ForForm("");
         },
         {"TWelcomePage", "TLicenseForm", "TReadyPage"}},
    };
    for (const TCancelCase& c : cases) {
        SCOPED_TRACE(c.Where);
        Visited.clear();
        Headless()->Reset();
        MainDrvnCompress()->Abort = false;
        TWizardTestFile::AfterStep = nullptr;
        for (TWizardTestFile* file : Files)
            file->LastPart = 1;
        c.Script(*this);
        OnPage([](TBaseInstallForm* page) {
            auto* bad = dynamic_cast<TBadInstallForm*>(page);
            ASSERT_NE(bad, nullptr);
            EXPECT_FALSE(bad->btnNext->Visible()); // the last page: "Finish"
            EXPECT_TRUE(bad->btnFinish->Visible());
            EXPECT_TRUE(bad->btnFinish->Default());
        });
        Press("btnFinish");
        EXPECT_EQ(RunInstall(), "bad");
        Strings expected = c.Visited;
        expected.push_back("TBadInstallForm");
        EXPECT_EQ(Visited, expected);
        EXPECT_EQ(Headless()->PendingSteps(), 0);
        Copy->CloseProgressWindows();
    }
}

// A script that ends early: the page waiting is cancelled as by the user
// before the work, and simply closed after it.
TEST_F(WizardRunTest, AScriptThatRunsOutCancelsTheRunBeforeTheWork)
{
    struct TCase {
        const char* Where;
        int Steps; // of the complete run below
        const char* End;
        bool Installed;
    };
    const TCase cases[] = {
        {"no step at all", 0, "bad", false},
        {"on the licence", 1, "bad", false},
        {"on the last page before the work", 2, "bad", false},
        {"on the good-install page", 3, "good", true},
        {"on the readme page", 4, "good", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Where);
        Headless()->Reset();
        Visited.clear();
        for (TWizardTestFile* file : Files)
            file->Processed = false;
        std::vector<std::string> unanswered;
        Headless()->OnUnanswered = [&](TCustomForm* form) {
            auto* container = dynamic_cast<TBaseFormContainer*>(form);
            unanswered.push_back(container != nullptr ? container->CurrentPage()->ClassName() : FormTitle(form));
        };
        const char* buttons[] = {"btnNext", "btnNext", "btnNext", "btnNext"};
        for (int i = 0; i < c.Steps; ++i)
            Press(buttons[i]);
        EXPECT_EQ(RunInstall(), c.End);
        EXPECT_EQ(Files[0]->Processed, c.Installed);
        // The page that waited, and after a cancel the bad-install page, told.
        ASSERT_FALSE(unanswered.empty());
        const Strings pages = {"TWelcomePage", "TLicenseForm", "TReadyPage", "TGoodInstallForm", "TReadmeForm"};
        EXPECT_EQ(unanswered.front(), pages[static_cast<std::size_t>(c.Steps)]);
        EXPECT_EQ(unanswered.back(), c.Installed ? pages[static_cast<std::size_t>(c.Steps)] : "TBadInstallForm");
    }
}

// After the work no page offers Cancel, and nothing cancels the run there:
// neither the page's Cancel nor the window closed without Finish.
TEST_F(WizardRunTest, PagesAfterTheWorkOfferNoCancel)
{
    std::vector<std::string> cancels; // page: whether "Cancel" is shown
    auto look = [&](TBaseInstallForm* page) {
        auto* stock = dynamic_cast<TStockInstallPage*>(page);
        ASSERT_NE(stock, nullptr);
        cancels.push_back(page->ClassName() + (stock->btnCancel->Visible() ? " Cancel" : " -"));
    };
    OnPage(look);
    Press("btnNext");
    OnPage(look);
    Press("btnNext");
    Press("btnNext");
    OnPage(look);
    OnPage([](TBaseInstallForm* page) { page->Cancel(); }); // ignored
    Press("btnNext");
    OnPage(look);
    OnPage([](TBaseInstallForm* page) { page->ForceCancel(); }); // the window closed
    EXPECT_EQ(RunInstall(), "good");
    EXPECT_EQ(cancels, (Strings{"TWelcomePage Cancel", "TLicenseForm Cancel", "TGoodInstallForm -", "TReadmeForm -"}));

    // The bad-install page and the reboot question as well.
    Headless()->Reset();
    cancels.clear();
    Press("btnCancel");
    OnPage(look);
    OnPage([](TBaseInstallForm* page) { page->Cancel(); });
    Press("btnFinish");
    EXPECT_EQ(RunInstall(), "bad");
    Headless()->Reset();
    OnPage(look);
    EXPECT_NO_THROW(RebootManager->ShowPages()); // the script ends there: closed
    EXPECT_EQ(cancels, (Strings{"TBadInstallForm -", "TRebootForm -"}));
}

TEST_F(WizardRunTest, ACancelRefusedByOnUserAbortLeavesThePageOpen)
{
    int asked = 0;
    Install->OnUserAbort = [&](TObject*, bool& abort) {
        ++asked;
        abort = false;
    };
    Press("btnNext");
    Press("btnCancel");
    OnPage([](TBaseInstallForm* page) { EXPECT_EQ(page->ClassName(), "TLicenseForm"); });
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    EXPECT_EQ(RunInstall(), "good");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm", "TLicenseForm", "TReadyPage", "TGoodInstallForm",
                                "TReadmeForm"}));
}

TEST_F(WizardRunTest, TheChangeDiskFormAsksForEachPartUntilItIsThere)
{
    TTempWindowsRoot::WriteFile("D:\\Disk2\\part2.bin", "2");
    TTempWindowsRoot::WriteFile("D:\\Disk3\\part3.bin", "3");
    TTempWindowsRoot::WriteFile("E:\\Elsewhere\\part4.bin", "4");
    EXPECT_TRUE(WinFileExists("D:\\Disk3\\part3.bin"));
    EXPECT_TRUE(WinFileExists("D:\\Disk2\\part2.bin"));
    Files[2]->LastPart = 4; // the first file installed spans parts 1 to 4
    std::vector<std::string> prompts;
    auto look = [&](TCustomForm* form) {
        auto* disk = dynamic_cast<TChangeDiskForm*>(form);
        ASSERT_NE(disk, nullptr);
        prompts.push_back(disk->lblPrompt->Caption() + " | " + disk->edPath->Text());
    };
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    THeadlessBackend& script = *Headless();
    script.ForForm("TChangeDiskForm");
    // Part 2: proceeding without the part asks again; then the path typed.
    script.Do(look).Click("btnProceed");
    script.Do(look).Focus("edPath").Do([](TCustomForm* form) {
        static_cast<TChangeDiskForm*>(form)->edPath->SelectAll();
    });
    script.Type("D:\\Disk2").Click("btnProceed");
    // Part 3: the path typed.
    script.Do(look).Focus("edPath").Do([](TCustomForm* form) {
        static_cast<TChangeDiskForm*>(form)->edPath->SelectAll();
    });
    script.Type("D:\\Disk3").Click("btnProceed");
    // Part 4: chosen with the folder browser.
    script.Do(look).Click("btnBrowse").ChooseFolder("E:\\Elsewhere");
    script.ForForm("TChangeDiskForm").Do(look).Click("btnProceed").ForForm("");
    Press("btnNext");
    Press("btnNext");

    EXPECT_EQ(RunInstall(), "good");
    EXPECT_EQ(Headless()->PendingSteps(), 0);
    EXPECT_EQ(prompts, (Strings{"Please insert disk number 2 | A:\\", "Please insert disk number 2 | A:\\",
                                "Please insert disk number 3 | D:\\Disk2", "Please insert disk number 4 | D:\\Disk3",
                                "Please insert disk number 4 | E:\\Elsewhere"}));
    EXPECT_EQ(Files[2]->PartFolders, (Strings{"D:\\Disk2", "D:\\Disk3", "E:\\Elsewhere"}));
    // The folder browser neither offered nor made a folder.
    EXPECT_FALSE(WinDirectoryExists("A:\\Disk2"));
}

} // namespace
} // namespace orvex
