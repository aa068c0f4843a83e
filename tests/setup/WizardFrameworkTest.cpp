#include "tests/setup/WizardFixture.h"

#include "installer/cmp_TNetInstallLocation.h"
#include "installer/cmp_TTranslator.h"
#include "setup/ordlg_CopyFile.h"
#include "setup/ordlg_Reboot.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using Strings = std::vector<std::string>;

std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

class WizardFrameworkTest : public WizardFixture {};

TEST_F(WizardFrameworkTest, AManagerWithoutPagesShowsNothing)
{
    auto* registration = new TDialogManager(Main);
    registration->ManagerType = dmRegistration;
    registration->SetContainer(Install);
    InstallBroadcast(Install, bmRegistration, nullptr);
    EXPECT_TRUE(Headless()->Log().empty());
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(WizardFrameworkTest, AContainerWhoseEveryPageSkipsItselfIsNotShown)
{
    BIFList().Remove(FormClassOf<TWelcomePage>("TWelcomePage"), nullptr);
    BIFList().Remove(FormClassOf<TReadyPage>("TReadyPage"), nullptr);
    Licence->SetDialogManager(nullptr);
    InstallBroadcast(Install, bmBeforeInstall, nullptr); // only the skipped page is left
    EXPECT_TRUE(Headless()->Log().empty());
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(WizardFrameworkTest, NextFinishesWhenEveryLaterPageSkipsAndNeverGoesBack)
{
    // On the ready page, which then starts to skip itself: the pages before
    // it would be found going back, but Next finishes the wizard.
    Press("btnNext");
    Press("btnNext");
    OnPage([](TBaseInstallForm* page) {
        auto* ready = dynamic_cast<TReadyPage*>(page);
        ASSERT_NE(ready, nullptr);
        EXPECT_TRUE(page->IsLastPage());
        EXPECT_FALSE(page->IsFirstPage());
        TReadyPage::Skip = true;
    });
    Press("btnNext");
    InstallBroadcast(Install, bmBeforeInstall, nullptr);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm", "TReadyPage"}));
    EXPECT_EQ(Headless()->PendingSteps(), 0);

    // With the skipped page as the only later one, the licence page's Next
    // finishes.
    Visited.clear();
    Headless()->Reset();
    BIFList().Remove(FormClassOf<TReadyPage>("TReadyPage"), nullptr);
    Press("btnNext");
    OnPage([](TBaseInstallForm* page) { EXPECT_FALSE(page->IsLastPage()); });
    Press("btnNext");
    InstallBroadcast(Install, bmBeforeInstall, nullptr);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm"}));
    EXPECT_EQ(Headless()->PendingSteps(), 0);
}

TEST_F(WizardFrameworkTest, ChoosingATabByHandLeavesThePageAndPassesOverSkippedOnes)
{
    Headless()->Click("PageControl:2"); // the skipped page's tab
    Press("btnNext"); // on the ready page: done
    InstallBroadcast(Install, bmBeforeInstall, nullptr);
    EXPECT_EQ(Visited, (Strings{"TReadyPage"}));
    EXPECT_EQ(TWelcomePage::Left, 1);
}

TEST_F(WizardFrameworkTest, PagesFollowTheirOrderAndTheDialogsOrder)
{
    Licence->SetOrder(50);
    Press("btnNext");
    Press("btnNext");
    Press("btnNext");
    InstallBroadcast(Install, bmBeforeInstall, nullptr);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TReadyPage", "TLicenseForm"}));
}

TEST_F(WizardFrameworkTest, ContainersAndProgressWindowsArePlacedOnTheScreen)
{
    struct Case {
        TDorvaneDialogPosition position;
        TPoint at;
    };
    // 478 x 395 on 1024 x 768 with 18-pixel captions, offsets (7, 11):
    // the middle column 7 + round(273), the centre row 11 + round(186.5)
    // (halves go to the even neighbour), the bottom row 768 - 18 - 395 - 11.
    const Case cases[] = {
        {ddpCenterLeft, {7, 197}},   {ddpCenter, {280, 197}},   {ddpCenterRight, {539, 197}},
        {ddpBottomLeft, {7, 344}},   {ddpBottomCenter, {280, 344}}, {ddpBottomRight, {539, 344}},
        {ddpTopLeft, {7, 11}},       {ddpTopCenter, {280, 11}},   {ddpTopRight, {539, 11}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DialogPlacement(c.position, 478, 395, 7, 11), c.at) << c.position;

    Before->Position = ddpTopRight;
    Before->RelativeLeftOffset = 7;
    Before->RelativeTopOffset = 11;
    OnPage([](TBaseInstallForm* page) {
        const TBaseFormContainer* container = page->PageContainer();
        EXPECT_EQ(container->BoundsRect(), Bounds(539, 11, 478, 395));
        // The page fills the container's display area.
        EXPECT_EQ(page->Width(), container->ClientWidth());
        EXPECT_EQ(page->Height(), container->ClientHeight());
    });
    Press("btnCancel");
    EXPECT_THROW(InstallBroadcast(Install, bmBeforeInstall, nullptr), EAIUserAbort);

    // The progress window: 474 x 146 at the bottom centre, 30 pixels up.
    TFileStatusParameter status;
    InstallBroadcast(Install, bmFileStatus, &status);
    ASSERT_EQ(Copy->OpenProgressWindows().size(), 1u);
    EXPECT_EQ(Copy->OpenProgressWindows()[0]->BoundsRect(), Bounds(275, 768 - 18 - 146 - 30, 474, 146));
    InstallBroadcast(Install, bmEndCopy, nullptr);
    EXPECT_TRUE(Copy->OpenProgressWindows().empty());
}

TEST_F(WizardFrameworkTest, RegistriesAndManagersRefuseBadInput)
{
    EXPECT_EQ(MessageOf([] { BIFList().Entry(99); }), "99 is an invalid index in the BIFList");
    EXPECT_EQ(MessageOf([] { DCFList().Entry(-1); }), "-1 is an invalid index in the DCFList");
    EXPECT_EQ(MessageOf([this] { Before->AddDialog(nullptr); }),
              "Cannot add a NIL Dialog to the Dialog Manager dmBefore");

    TMessageParameter message("x");
    EXPECT_EQ(MessageOf([] { InstallBroadcast(nullptr, bmFileStatus, nullptr); }), "dmCopy got a nil PO parameter");
    EXPECT_EQ(MessageOf([&] { InstallBroadcast(nullptr, bmFileStatus, &message); }),
              "The PO object passed to dmCopy is not a TFileStatusParameter object");
    EXPECT_EQ(MessageOf([&] { InstallBroadcast(nullptr, bmDownloadStatus, &message); }),
              "The PO object passed to dmCopy is not a TDownloadStatusParameter object");
    EXPECT_EQ(MessageOf([&] { InstallBroadcast(nullptr, bmPushStatusText, nullptr); }),
              "StatusDlg got a nil PO parameter");
    TFileStatusParameter status;
    EXPECT_EQ(MessageOf([&] { InstallBroadcast(nullptr, bmPushStatusText, &status); }),
              "The PO object passed to StatusDlg is not a TMessageParameter object");

    TDiskParameter disk;
    TList one, swapped, wrongSecond;
    one.Add(static_cast<TObject*>(Files[0]));
    swapped.Add(static_cast<TObject*>(&disk));
    swapped.Add(static_cast<TObject*>(Files[0]));
    wrongSecond.Add(static_cast<TObject*>(Files[0]));
    wrongSecond.Add(static_cast<TObject*>(Files[1]));
    const std::pair<TObject*, const char*> cases[] = {
        {nullptr, "The ParameterObject is Nil in the TDialogManager. Cannot show the change disk form"},
        {&message, "TChangeDiskDlg--PO is not a TList object"},
        {&one, "TChangeDiskDlg--Not engouh parameters for status event"},
        {&swapped, "TChangeDiskDlg says bad first parameter"},
        {&wrongSecond, "TChangeDiskDlg says bad second parameter"},
    };
    for (const auto& [parameter, text] : cases)
        EXPECT_EQ(MessageOf([&, p = parameter] { InstallBroadcast(nullptr, bmNewDisk, p); }), text);
    EXPECT_TRUE(Headless()->Log().empty()); // no form was shown

    UnregisterWizardForms();
    EXPECT_EQ(MessageOf([] { BIFList(); }), "The BIFList is NIL");
    EXPECT_EQ(MessageOf([] { CDFList(); }), "The CDFList is NIL");
    CreateWizardRegistries();
}

TEST_F(WizardFrameworkTest, ADownloadShowsTheTransferPictureAndAFileStatusHidesIt)
{
    TDownloadStatusParameter download;
    download.FileName = "files.1";
    download.Percent = 40;
    InstallBroadcast(Install, bmDownloadStatus, &download);
    auto* window = dynamic_cast<TCopyFileForm*>(Copy->OpenProgressWindows().at(0));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Caption(), "Copying installation files");
    EXPECT_TRUE(window->imgTransfer->Visible());
    EXPECT_EQ(window->pbFile->Position(), 40);
    EXPECT_EQ(window->lblCurrentFile->Caption(), "files.1");

    TFileStatusParameter status;
    status.FileName = "engine.dll";
    status.FilePercent = 70;
    status.ContainerPercent = 20;
    InstallBroadcast(Install, bmFileStatus, &status);
    EXPECT_EQ(Copy->OpenProgressWindows().size(), 1u); // the same window
    EXPECT_FALSE(window->imgTransfer->Visible());
    EXPECT_EQ(window->pbFile->Position(), 70);
    EXPECT_EQ(window->pbTotal->Position(), 20);
    EXPECT_EQ(window->lblCurrentFile->Caption(), "engine.dll");
    // Painted: the file bar filled to 70 percent in the highlight colour.
    const TRGBImage shot = Headless()->Snapshot(window);
    const TRect bar = window->pbFile->BoundsRect();
    EXPECT_EQ(shot.Pixel(bar.Left + bar.Width() * 6 / 10, bar.Top + 8), ColorToRGB(clHighlight));
    EXPECT_EQ(shot.Pixel(bar.Left + bar.Width() * 8 / 10, bar.Top + 8), ColorToRGB(clBtnFace));

    // Cancel stops the archive (the run's next step ends as a cancel).
    window->btnCancel->Click();
    EXPECT_TRUE(MainDrvnCompress()->Abort);
    EXPECT_TRUE(DownloadCancelled());
    SetDownloadCancel(false);
    InstallBroadcast(Install, bmEndCopy, nullptr);
}

TEST_F(WizardFrameworkTest, StatusTextsStackAndTheWindowFitsTheText)
{
    Install->PushStatusText("Reading file information...");
    Install->PushStatusText("Installing registry keys...");
    TInstallStatusForm* form = Status->StatusForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->lblMessage->Caption(), "Installing registry keys...");
    Install->PopStatusText();
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->lblMessage->Caption(), "Reading file information...");
    TLabel* label = form->lblMessage;
    EXPECT_EQ(label->Width(), 27 * 5); // the fixed metrics: five pixels a character
    EXPECT_EQ(form->Width(),
              label->Width() + form->pnlBack->Left() + form->pnlMessage->Left() + label->Left() + 25);
    EXPECT_EQ(form->Left(), (1024 - form->Width()) / 2);
    EXPECT_EQ(label->Top(), (form->pnlMessage->ClientHeight() - label->Height()) / 2);
    Install->PopStatusText();
    EXPECT_FALSE(form->Visible());
    EXPECT_TRUE(Status->Texts().empty());
    Install->PopStatusText(); // nothing left: still hidden
    EXPECT_FALSE(form->Visible());

    // Under a dialog manager the dialog leaves the codes alone.
    Status->SetDialogManager(Before);
    Install->PushStatusText("ignored");
    EXPECT_TRUE(Status->Texts().empty());
}

TEST_F(WizardFrameworkTest, TheRebootPageFollowsAndSetsTheRebootFlag)
{
    Install->Reboot = true;
    OnPage([](TBaseInstallForm* page) {
        auto* reboot = dynamic_cast<TRebootForm*>(page);
        ASSERT_NE(reboot, nullptr);
        EXPECT_TRUE(reboot->rbYes->Checked());
        EXPECT_FALSE(reboot->btnPrevious->Visible());
        EXPECT_TRUE(reboot->btnFinish->Visible());
        EXPECT_FALSE(reboot->btnNext->Visible());
        EXPECT_EQ(page->PageContainer()->Caption(), "Reboot windows");
    });
    Headless()->Do([](TCustomForm* form) {
        auto* reboot = static_cast<TRebootForm*>(static_cast<TBaseFormContainer*>(form)->CurrentPage());
        reboot->rbNo->SetChecked(true); // the user's click
    });
    Press("btnFinish");
    InstallBroadcast(Install, bmReboot, nullptr);
    EXPECT_FALSE(Install->Reboot);

    Install->Reboot = false;
    Visited.clear();
    OnPage([](TBaseInstallForm* page) { EXPECT_TRUE(static_cast<TRebootForm*>(page)->rbNo->Checked()); });
    Headless()->Do([](TCustomForm* form) {
        static_cast<TRebootForm*>(static_cast<TBaseFormContainer*>(form)->CurrentPage())->rbYes->SetChecked(true);
    });
    Press("btnFinish");
    InstallBroadcast(Install, bmReboot, nullptr);
    EXPECT_TRUE(Install->Reboot);
}

TEST_F(WizardFrameworkTest, ADialogWithoutAManagerShowsItsPageByItself)
{
    Strings events;
    Licence->SetDialogManager(nullptr);
    Licence->OnBeforeExecute = [&](TObject*) { events.push_back("before"); };
    Licence->OnAfterExecute = [&](TObject*) { events.push_back("after"); };
    Headless()->ForForm("TLicenseForm").Click("btnNext").ForForm("");
    InstallBroadcast(Install, bmLicence, nullptr);
    EXPECT_EQ(events, (Strings{"before", "after"}));
    EXPECT_EQ(Licence->CurrentForm, nullptr);
    EXPECT_EQ(Headless()->PendingSteps(), 0);

    // Its Cancel is the user's cancel.
    Headless()->ForForm("TLicenseForm").Click("btnCancel").ForForm("");
    EXPECT_THROW(InstallBroadcast(Install, bmLicence, nullptr), EAIUserAbort);
    // A silent abort before it shows ends it quietly.
    Licence->OnBeforeExecute = [](TObject*) { throw EAbort("quiet"); };
    EXPECT_FALSE(Licence->Execute());
    // The licence page is no longer among the pages before installing.
    Press("btnNext");
    Press("btnNext");
    InstallBroadcast(Install, bmBeforeInstall, nullptr);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TReadyPage"}));
    // With a manager the dialog does not answer its own code.
    Licence->SetDialogManager(Before);
    Headless()->Reset();
    InstallBroadcast(Install, bmLicence, nullptr);
    EXPECT_TRUE(Headless()->Log().empty());
}

TEST_F(WizardFrameworkTest, PagesAreTranslatedAndTakeTheLanguagesFonts)
{
    TTranslator translator(nullptr);
    translator.lgEnglish()->Strings()->SetText("1;Next >\r\n2;Welcome\r\n3;Cancel");
    translator.lgGerman()->Strings()->SetText("1;Weiter >\r\n2;Willkommen\r\n3;Abbrechen");
    translator.SetTranslateIntoLanguage(dlGerman);
    OnPage([](TBaseInstallForm* page) {
        auto* welcome = static_cast<TStockInstallPage*>(page);
        EXPECT_EQ(welcome->btnNext->Caption(), "Weiter >");
        EXPECT_EQ(welcome->btnCancel->Caption(), "Abbrechen");
        EXPECT_EQ(page->PageContainer()->Caption(), "Willkommen");
        EXPECT_EQ(page->LanguageShown, dlGerman);
        EXPECT_EQ(welcome->btnNext->Font()->Name(), "MS Sans Serif");
    });
    Press("btnCancel");
    EXPECT_THROW(InstallBroadcast(Install, bmBeforeInstall, nullptr), EAIUserAbort);
}

} // namespace
} // namespace orvex
