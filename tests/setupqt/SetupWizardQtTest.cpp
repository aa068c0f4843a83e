// The setup program's pages under the Qt backend (offscreen): the wizard
// walked through Qt's own buttons with a PNG of every page, and the main
// form with its backdrop and product label.

#include "host/forms-qt/QtBackend.h"
#include "host/forms/Backend.h"
#include "installer/exceptions_Dorvane.h"
#include "platform/WinPaths.h"
#include "setup/DemoDelphiVer.h"
#include "setup/SetupMachine.h"
#include "setup/frmMain.h"
#include "setup/ordlg_StockPage.h"
#include "tests/platform/WinSystemTempRoot.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvex {
namespace {

// Chooses the Qt backend unless another test of this program already did
// (the backend is chosen once per process, and only Qt makes a QApplication).
void ChooseQt()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "orvex_tests_setupqt";
    static char* argv[] = {name, nullptr};
    UseQtFormsBackend(argc, argv);
}

QImage Shot(TControl* control, const std::string& file)
{
    QImage image = QtWidgetOf(control)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    image.save(QString::fromStdString(std::string(ORVEX_SETUPQT_OUTPUT) + "/" + file));
    return image;
}

// Plays the user: each step waits until the wizard shows its page, saves a
// PNG of it and clicks a button through Qt. Another page shown for ten
// seconds fails the run.
class TPageDriver {
public:
    struct TStep {
        std::string Page;
        std::string Button;
    };
    explicit TPageDriver(std::vector<TStep> steps) : FSteps(steps.begin(), steps.end())
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start(5);
        FIdle.start();
    }
    std::vector<std::string> Shots;

private:
    void Tick()
    {
        if (FSteps.empty())
            return;
        TBaseFormContainer* container = nullptr;
        for (int i = 0; i < Screen->FormCount() && container == nullptr; ++i) {
            auto* form = dynamic_cast<TBaseFormContainer*>(Screen->Forms(i));
            if (form != nullptr && form->Modal() && form->Visible())
                container = form;
        }
        auto* page = container != nullptr ? dynamic_cast<TStockInstallPage*>(container->CurrentPage()) : nullptr;
        if (page == nullptr || page->ClassName() != FSteps.front().Page) {
            // Without a wizard shown the run is busy (extracting); a wrong
            // page is a failure after ten seconds.
            if (FIdle.elapsed() > (container == nullptr ? 240000 : 10000)) {
                ADD_FAILURE() << "the page " << FSteps.front().Page << " never came; shown: "
                              << (page != nullptr ? page->ClassName() : std::string("no page"));
                FSteps.clear();
                if (container != nullptr)
                    container->SetModalResult(mrAbort);
            }
            return;
        }
        const TStep step = FSteps.front();
        FSteps.pop_front();
        Application->ProcessMessages();
        const std::string file = "setup-" + step.Page + ".png";
        const QImage image = Shot(container, file);
        Shots.push_back(file);
        EXPECT_EQ(image.size(), QSize(container->ClientWidth(), container->ClientHeight())) << file;
        // The page's caption is the wizard's, its buttons where the model says.
        EXPECT_EQ(container->Caption(), page->Caption());
        QWidget* cancel = QtWidgetOf(page->btnCancel);
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->geometry(), QRect(page->btnCancel->Left(), page->btnCancel->Top(), 75, 23));
        TControl* button = nullptr;
        for (TButton* b : {page->btnPrevious, page->btnNext, page->btnFinish, page->btnCancel})
            if (b != nullptr && b->Name() == step.Button)
                button = b;
        ASSERT_NE(button, nullptr) << step.Button;
        auto* widget = dynamic_cast<QPushButton*>(QtWidgetOf(button));
        ASSERT_NE(widget, nullptr);
        ASSERT_TRUE(widget->isVisible()) << step.Page << " " << step.Button;
        widget->click();
        FIdle.restart();
    }
    std::deque<TStep> FSteps;
    QTimer FTimer;
    QElapsedTimer FIdle;
};

class SetupProgramQtTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ChooseQt();
        PrepareMachineFolders();
        InstallLog()->Clear();
        RegisterWizardForms();
        RegisterSetupPages();
    }
    void TearDown() override
    {
        delete Main;
        UnregisterWizardForms();
        InstallLog()->Clear();
    }
    TTempWindowsRoot Root;
    TMainForm* Main = nullptr;
};

TEST_F(SetupProgramQtTest, TheWizardsPagesShowThroughQt)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    Main = new TMainForm(nullptr);
    {
        TPageDriver driver({{"TWelcomeForm", "btnNext"},
                            {"TLicenseForm", "btnNext"},
                            {"TSelectDestinationForm", "btnNext"},
                            {"TConfirmInstall", "btnNext"}});
        Main->dmBeforeInstall1->ShowPages();
        EXPECT_EQ(driver.Shots.size(), 4u);
    }
    {
        TPageDriver driver({{"TReadmeForm", "btnNext"}, {"TAfterGoodInstallDlg", "btnFinish"}});
        Main->dmAfterGoodInstall1->ShowPages();
        EXPECT_EQ(driver.Shots.size(), 2u);
    }
}

TEST_F(SetupProgramQtTest, TheMainFormShowsItsBackdropAndLabel)
{
    Main = new TMainForm(nullptr);
    Main->Install1->RunAutomatic = false; // only the window, no run
    Main->Show();
    Application->ProcessMessages();
    const QImage image = Shot(Main, "setup-MainForm.png");
    ASSERT_EQ(image.size(), QSize(Main->ClientWidth(), Main->ClientHeight()));
    // The gradient runs from blue at the top to black at the bottom.
    const QRgb top = image.pixel(5, 80);
    const QRgb bottom = image.pixel(5, image.height() - 2);
    EXPECT_GT(qBlue(top), 200);
    EXPECT_LT(qBlue(bottom), 20);
    // The label's text leaves light pixels in its band.
    int light = 0;
    for (int y = 0; y < 65; ++y)
        for (int x = 0; x < image.width(); ++x)
            light += qRed(image.pixel(x, y)) > 200 ? 1 : 0;
    EXPECT_GT(light, 50);
    Main->Hide();
}

TEST_F(SetupProgramQtTest, TheEnvironmentPageShowsItsBoxes)
{
    EmulateDevelopmentEnvironment(vpDelphi5);
    EmulateDevelopmentEnvironment(vpBuilder6);
    Main = new TMainForm(nullptr);
    Main->Install1->RunAutomatic = false;
    TBeforeInstallDialog1 page(nullptr);
    page.Show();
    Application->ProcessMessages();
    const QImage image = Shot(&page, "setup-TBeforeInstallDialog1.png");
    ASSERT_EQ(image.size(), QSize(page.ClientWidth(), page.ClientHeight()));
    for (int i = 0; i < VCLProductCount; ++i) {
        TCheckBox* box = page.cbProducts[static_cast<std::size_t>(i)];
        QWidget* widget = QtWidgetOf(box);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), QRect(box->Left(), box->Top(), box->Width(), box->Height()));
        EXPECT_EQ(widget->isEnabled(), box->Enabled()) << i;
    }
    page.Hide();
}

// The whole run over a distribution that orvexsetup builds: every page of the
// wizard before installing, then the files extracted, then the pages after a
// good installation, each saved as a PNG.
TEST_F(SetupProgramQtTest, AWholeRunShowsEveryPageThroughQt)
{
    namespace fs = std::filesystem;
    const std::string delphi = EmulateDevelopmentEnvironment(vpDelphi5);
    TTempWindowsRoot::WriteFile(delphi + "\\Lib\\K19R08.TXT", "sign");
    fs::copy_file(ORVEX_SETUP_LOADER, NativePath(delphi + "\\Lib\\DorvaneLoadProgram.exe"));
    TTempWindowsRoot::WriteFile("C:\\DEV\\BUILD.INF", "C:\\BUILD\r\n");
    fs::copy_file(ORVEX_SETUP_PROGRAM, NativePath("C:\\DEV\\orvexsetup.exe"));
    // Small stand-ins for the big build outputs keep the extraction short.
    for (const char* file : {"Delphi5/vekrun.bpl", "Sys/vekrun.bpl", "Utils/OrvexEditor.exe"}) {
        const fs::path path = fs::path(Root.Path()) / "sources" / file;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "stand-in for " << file;
    }
    const std::string command = "ORVEX_WINDOWS_ROOT='" + Root.Path() + "' '" + NativePath("C:\\DEV\\orvexsetup.exe") +
                                "' --headless '--sources=" + Root.Path() + "/sources' -b";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(WinFileExists("C:\\BUILD\\files.1"));

    TMainForm::SetInstallCommandLine({"-d", "-sC:\\BUILD"});
    Main = new TMainForm(nullptr);
    TMainForm::SetInstallCommandLine({});
    Main->Install1->RunAutomatic = false;
    TPageDriver driver({{"TWelcomeForm", "btnNext"},
                        {"TLicenseForm", "btnNext"},
                        {"TSelectDestinationForm", "btnNext"},
                        {"TConfirmInstall", "btnNext"},
                        {"TReadmeForm", "btnNext"},
                        {"TAfterGoodInstallDlg", "btnFinish"}});
    Main->Install1->Install();
    EXPECT_EQ(driver.Shots.size(), 6u);
    EXPECT_FALSE(Main->Install1->BadEndHandled());
    const std::string destination = WinSystemConfig().ProgramFilesDir + "\\Orvex";
    EXPECT_TRUE(WinFileExists(destination + "\\Delphi5\\dclvek14d5.bpl"));
    EXPECT_TRUE(WinFileExists(destination + "\\instlog.txt"));
}

} // namespace
} // namespace orvex
