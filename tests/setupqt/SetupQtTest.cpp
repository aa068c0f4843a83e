// The wizard under the Qt backend (offscreen): the same runs as on the
// headless backend, driven through Qt's own widgets, with a screenshot of
// every page and window checked by widget geometry and pixel samples.

#include "host/forms-qt/QtBackend.h"
#include "host/forms/Backend.h"
#include "setup/cmp_Rotate3DLabel.h"
#include "setup/cmp_TBackDrop.h"
#include "setup/ordlg_BadInstallForm.h"
#include "setup/ordlg_CopyFile.h"
#include "setup/ordlg_InstallStatus.h"
#include "tests/setup/WizardFixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace orvex {
namespace {

using Strings = std::vector<std::string>;

void UseQt()
{
    static const bool chosen = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "orvex_tests_setupqt";
        static char* argv[] = {name, nullptr};
        UseQtFormsBackend(argc, argv);
        return true;
    }();
    ASSERT_TRUE(chosen);
    ASSERT_EQ(FormsBackend().Name(), "qt");
}

const QColor Face(212, 208, 200);

QColor ToQColor(TColor rgb)
{
    rgb = ColorToRGB(rgb);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QImage Shoot(TControl* control, const std::string& file)
{
    QImage shot = QtWidgetOf(control)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    shot.save(QString::fromStdString(std::string(ORVEX_SETUPQT_OUTPUT) + "/" + file));
    return shot;
}

int DarkPixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += qRed(p) + qGreen(p) + qBlue(p) < 300 ? 1 : 0;
        }
    return count;
}

void ClickQt(TControl* button)
{
    auto* widget = dynamic_cast<QPushButton*>(QtWidgetOf(button));
    ASSERT_NE(widget, nullptr) << button->Name();
    ASSERT_TRUE(widget->isVisible()) << button->Name();
    widget->click();
}

void TypeInto(QWidget* widget, const std::string& text)
{
    for (char c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
        QCoreApplication::sendEvent(widget, &press);
    }
}

// Plays the user on Qt: each step waits until a modal form of its class
// (and, for the wizard, its page) is shown, then acts on it. A run that
// waits for nothing for ten seconds is cancelled and fails.
class TQtDriver {
public:
    TQtDriver()
    {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start();
        FIdle.start();
    }
    void Add(std::string form, std::string page, std::function<void(TCustomForm*)> act)
    {
        FSteps.push_back({std::move(form), std::move(page), std::move(act)});
    }
    bool Empty() const { return FSteps.empty(); }

private:
    struct TStep {
        std::string Form;
        std::string Page;
        std::function<void(TCustomForm*)> Act;
    };
    void Tick()
    {
        if (FBusy || FSteps.empty())
            return;
        const TStep& step = FSteps.front();
        TCustomForm* target = nullptr;
        for (int i = Screen->FormCount() - 1; i >= 0 && target == nullptr; --i) {
            TCustomForm* form = Screen->Forms(i);
            if (form->Modal() && form->Visible() && form->ClassName() == step.Form)
                target = form;
        }
        if (target != nullptr && !step.Page.empty()) {
            auto* container = dynamic_cast<TBaseFormContainer*>(target);
            if (container == nullptr || container->CurrentPage() == nullptr ||
                container->CurrentPage()->ClassName() != step.Page)
                target = nullptr;
        }
        if (target == nullptr) {
            if (FIdle.elapsed() > 10000) {
                ADD_FAILURE() << "nothing to do for " << step.Form << " " << step.Page;
                FSteps.clear();
                for (int i = 0; i < Screen->FormCount(); ++i)
                    if (Screen->Forms(i)->Modal())
                        Screen->Forms(i)->SetModalResult(mrAbort);
            }
            return;
        }
        TStep taken = std::move(FSteps.front());
        FSteps.pop_front();
        FBusy = true;
        taken.Act(target);
        FBusy = false;
        FIdle.restart();
    }
    std::deque<TStep> FSteps;
    QTimer FTimer;
    QElapsedTimer FIdle;
    bool FBusy = false;
};

class SetupQtTest : public WizardFixture {
public:
    void SetUp() override
    {
        UseQt();
        Driver = std::make_unique<TQtDriver>();
        WizardFixture::SetUp();
        // The theme picture: a backdrop's gradient.
        Theme.Bitmap()->SetSize(121, 313);
        PaintGradient(*Theme.Bitmap()->Canvas(), Rect(0, 0, 121, 313), bdUp, 0xFF0000, 0);
        SetDefaultThemePictureHook([this] { return &Theme; });
    }
    void TearDown() override
    {
        SetDefaultThemePictureHook(nullptr);
        WizardFixture::TearDown();
    }

    // The wizard's page: screenshot, geometry and pixels, then a click on
    // one of its buttons through Qt.
    void PageStep(const std::string& page, const std::string& button, const std::string& shot = "")
    {
        Driver->Add("TBaseFormContainer", page, [this, page, button, shot](TCustomForm* form) {
            auto* container = static_cast<TBaseFormContainer*>(form);
            auto* stock = dynamic_cast<TStockInstallPage*>(container->CurrentPage());
            ASSERT_NE(stock, nullptr);
            Visited.push_back(page);
            if (!shot.empty())
                CheckPage(container, stock, shot);
            ClickQt(FindNamed(stock, button));
        });
    }

    void CheckPage(TBaseFormContainer* container, TStockInstallPage* page, const std::string& file)
    {
        Application->ProcessMessages();
        const QImage shot = Shoot(container, file);
        EXPECT_EQ(shot.size(), QSize(container->ClientWidth(), container->ClientHeight())) << file;
        const QPoint origin = QtWidgetOf(page)->mapTo(QtWidgetOf(container), QPoint(0, 0));
        // The buttons where the model put them, shown as the model says.
        for (TButton* button : {page->btnPrevious, page->btnNext, page->btnCancel}) {
            QWidget* widget = QtWidgetOf(button);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->geometry(), QRect(button->Left(), button->Top(), 75, 23)) << file;
            EXPECT_EQ(widget->isVisible(), button->Visible()) << file << " " << button->Name();
            if (button->Visible()) {
                EXPECT_GT(DarkPixels(shot, widget->geometry().translated(origin).adjusted(4, 4, -4, -4)), 8)
                    << file << " " << button->Name();
            }
        }
        EXPECT_EQ(page->btnCancel->Top(), 335);
        // The theme picture at the left, pixel for pixel; the face beside it.
        for (QPoint p : {QPoint(60, 2), QPoint(10, 150), QPoint(100, 310)})
            EXPECT_EQ(QColor(shot.pixel(origin + QPoint(8, 8) + p)), ToQColor(Theme.Bitmap()->Image().Pixel(p.x(), p.y())))
                << file;
        EXPECT_EQ(QColor(shot.pixel(origin + QPoint(134, 200))), Face) << file;
        // Text in the text column.
        EXPECT_GT(DarkPixels(shot, QRect(origin + QPoint(140, 8), QSize(318, 30))), 20) << file;
    }

    TPicture Theme;
    std::unique_ptr<TQtDriver> Driver;
};

TEST_F(SetupQtTest, AGoodRunShowsEveryPageAndTheProgressWindow)
{
    bool progressShot = false;
    TWizardTestFile::AfterStep = [&](TWizardTestFile*) {
        auto* window = dynamic_cast<TCopyFileForm*>(Copy->OpenProgressWindows().at(0));
        ASSERT_NE(window, nullptr);
        auto* bar = dynamic_cast<QProgressBar*>(QtWidgetOf(window->pbTotal));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->value(), window->pbTotal->Position());
        if (progressShot)
            return;
        progressShot = true;
        const QImage shot = Shoot(window, "setup-copy-progress.png");
        EXPECT_EQ(window->BoundsRect(), Bounds(RoundHalfEven(Screen->Width() / 2.0 - 237),
                                               Screen->Height() - Screen->CaptionHeight() - 146 - 30, 474, 146));
        EXPECT_EQ(shot.size(), QSize(window->ClientWidth(), window->ClientHeight()));
        EXPECT_EQ(QColor(shot.pixel(4, 4)), Face);
        EXPECT_GT(DarkPixels(shot, QtWidgetOf(window->lblCurrentFile)->geometry()), 5); // "demo.exe"
        EXPECT_TRUE(QtWidgetOf(window->btnCancel)->isVisible());
        EXPECT_FALSE(window->imgTransfer->Visible());
    };
    PageStep("TWelcomePage", "btnNext", "setup-welcome.png");
    PageStep("TLicenseForm", "btnNext", "setup-licence.png");
    PageStep("TReadyPage", "btnNext", "setup-ready.png");
    PageStep("TGoodInstallForm", "btnNext", "setup-good-install.png");
    PageStep("TReadmeForm", "btnNext", "setup-readme.png");

    EXPECT_EQ(RunInstall(), "good");
    EXPECT_TRUE(Driver->Empty());
    EXPECT_TRUE(progressShot);
    EXPECT_EQ(Visited, (Strings{"TWelcomePage", "TLicenseForm", "TReadyPage", "TGoodInstallForm", "TReadmeForm"}));
}

// The window's close box through Qt: refused before the work (only Cancel
// or Finish end the wizard there); after the work, where no page offers
// Cancel, it finishes the pages and the run ends well.
TEST_F(SetupQtTest, AfterTheWorkNoPageOffersCancelAndClosingFinishes)
{
    Strings cancels;
    auto step = [&](const std::string& page, std::function<void(TBaseFormContainer*, TStockInstallPage*)> act) {
        Driver->Add("TBaseFormContainer", page, [&cancels, page, act](TCustomForm* form) {
            auto* container = static_cast<TBaseFormContainer*>(form);
            auto* stock = dynamic_cast<TStockInstallPage*>(container->CurrentPage());
            ASSERT_NE(stock, nullptr);
            Application->ProcessMessages();
            cancels.push_back(page + (QtWidgetOf(stock->btnCancel)->isVisible() ? " Cancel" : " -"));
            act(container, stock);
        });
    };
    auto closeBox = [](TBaseFormContainer* container, TStockInstallPage*) { QtWidgetOf(container)->close(); };
    auto next = [](TBaseFormContainer*, TStockInstallPage* page) { ClickQt(page->btnNext); };
    step("TWelcomePage", closeBox);
    step("TWelcomePage", next); // still there
    step("TLicenseForm", next);
    step("TReadyPage", next);
    step("TGoodInstallForm", next);
    step("TReadmeForm", closeBox);

    EXPECT_EQ(RunInstall(), "good");
    EXPECT_TRUE(Driver->Empty());
    EXPECT_EQ(cancels, (Strings{"TWelcomePage Cancel", "TWelcomePage Cancel", "TLicenseForm Cancel",
                                "TReadyPage Cancel", "TGoodInstallForm -", "TReadmeForm -"}));
}

TEST_F(SetupQtTest, ACancelOnEachPageEndsInTheBadInstallPage)
{
    const char* const where[] = {"TWelcomePage", "TLicenseForm", "TReadyPage", "copy", "change disk"};
    for (const std::string w : where) {
        SCOPED_TRACE(w);
        Visited.clear();
        MainDrvnCompress()->Abort = false;
        TWizardTestFile::AfterStep = nullptr;
        for (TWizardTestFile* file : Files)
            file->LastPart = 1;
        Strings expected;
        for (const char* page : {"TWelcomePage", "TLicenseForm", "TReadyPage"}) {
            const bool here = w == page;
            PageStep(page, here ? "btnCancel" : "btnNext");
            expected.push_back(page);
            if (here)
                break;
        }
        if (w == "copy")
            TWizardTestFile::AfterStep = [this](TWizardTestFile*) {
                ClickQt(dynamic_cast<TCopyFileForm*>(Copy->OpenProgressWindows().at(0))->btnCancel);
            };
        if (w == "change disk") {
            Files[0]->LastPart = 2;
            Driver->Add("TChangeDiskForm", "", [](TCustomForm* form) {
                auto* disk = static_cast<TChangeDiskForm*>(form);
                const QImage shot = Shoot(disk, "setup-change-disk.png");
                EXPECT_EQ(QtWidgetOf(disk->edPath)->geometry(), QRect(52, 82, 230, 21));
                EXPECT_EQ(QColor(shot.pixel(52 + 200, 92)), QColor(Qt::white));
                EXPECT_GT(DarkPixels(shot, QtWidgetOf(disk->lblPrompt)->geometry()), 10);
                ClickQt(disk->btnCancel);
            });
        }
        PageStep("TBadInstallForm", "btnFinish", "setup-bad-install-" + std::to_string(expected.size()) + ".png");
        expected.push_back("TBadInstallForm");
        EXPECT_EQ(RunInstall(), "bad");
        EXPECT_TRUE(Driver->Empty());
        EXPECT_EQ(Visited, expected);
        Copy->CloseProgressWindows();
    }
}

TEST_F(SetupQtTest, TheChangeDiskFormTakesThePathTypedAndTheRunGoesOn)
{
    TTempWindowsRoot::WriteFile("D:\\Disk2\\part2.bin", "2");
    Files[2]->LastPart = 2;
    PageStep("TWelcomePage", "btnNext");
    PageStep("TLicenseForm", "btnNext");
    PageStep("TReadyPage", "btnNext");
    Driver->Add("TChangeDiskForm", "", [](TCustomForm* form) {
        auto* disk = static_cast<TChangeDiskForm*>(form);
        EXPECT_EQ(disk->lblPrompt->Caption(), "Please insert disk number 2");
        auto* edit = dynamic_cast<QLineEdit*>(QtWidgetOf(disk->edPath));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text().toStdString(), "A:\\");
        edit->selectAll();
        TypeInto(edit, "D:\\Disk2");
        ClickQt(disk->btnProceed);
    });
    PageStep("TGoodInstallForm", "btnNext");
    PageStep("TReadmeForm", "btnNext");
    EXPECT_EQ(RunInstall(), "good");
    EXPECT_TRUE(Driver->Empty());
    EXPECT_EQ(Files[2]->PartFolders, (Strings{"D:\\Disk2"}));
}

TEST_F(SetupQtTest, TheStatusWindowFitsItsText)
{
    Install->PushStatusText("Reading file information...");
    Application->ProcessMessages();
    TInstallStatusForm* form = Status->StatusForm();
    ASSERT_NE(form, nullptr);
    const QImage shot = Shoot(form, "setup-status.png");
    TLabel* label = form->lblMessage;
    EXPECT_EQ(form->Width(), label->Width() + form->pnlBack->Left() + form->pnlMessage->Left() + label->Left() + 25);
    EXPECT_EQ(form->Left(), (Screen->Width() - form->Width()) / 2);
    EXPECT_GT(DarkPixels(shot, QRect(label->Left() + form->pnlMessage->Left(), 0, label->Width(), shot.height())), 20);
    Install->PopStatusText();
    EXPECT_FALSE(QtWidgetOf(form)->isVisible());
}

TEST_F(SetupQtTest, TheBackdropAndTheRotatedLabelPaintThroughQt)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 256 + 8 + FormsBackend().CaptionHeight());
    form.SetClientHeight(256);
    auto* backdrop = new TBackdrop(&form);
    backdrop->SetParent(&form);
    // On the backdrop: a windowless control under a windowed sibling would be
    // hidden by it.
    auto* label = new TRotate3DLabel(&form);
    label->SetParent(backdrop);
    label->SetBounds(100, 40, 120, 120);
    label->SetAlignment(taCenter);
    label->SetCaption("Orvex");
    label->Font()->SetSize(14);
    label->Font()->SetColor(clWhite);
    label->LabelStyle()->SetAngle(90);
    form.Show();
    Application->ProcessMessages();
    const QImage shot = Shoot(&form, "setup-backdrop.png");
    form.Hide();
    ASSERT_EQ(shot.height(), 256);
    // One band a row: blue at the top, black at the bottom, in between the
    // rounded steps.
    EXPECT_EQ(QColor(shot.pixel(10, 0)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shot.pixel(10, 255)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(290, 128)), QColor(0, 0, 127));
    // The turned text: white ink inside the label, standing upright.
    int white = 0, minY = 256, maxY = 0, minX = 300, maxX = 0;
    for (int y = 40; y < 160; ++y)
        for (int x = 100; x < 220; ++x)
            if (QColor(shot.pixel(x, y)) == QColor(Qt::white)) {
                ++white;
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
            }
    EXPECT_GT(white, 30);
    EXPECT_GT(maxY - minY, maxX - minX); // taller than wide
}

} // namespace
} // namespace orvex
