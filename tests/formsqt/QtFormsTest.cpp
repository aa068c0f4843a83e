#include "dataset/vekPwDlg.h"
#include "host/forms-qt/QtBackend.h"
#include "host/forms/Backend.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

namespace orvex {
namespace {

// The Qt backend, without a display, chosen once for the whole program.
void UseQt()
{
    static const bool chosen = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "orvex_tests_formsqt";
        static char* argv[] = {name, nullptr};
        UseQtFormsBackend(argc, argv);
        return true;
    }();
    ASSERT_TRUE(chosen);
    ASSERT_EQ(FormsBackend().Name(), "qt");
}

// Runs `act` on the active (modal) form once its loop runs.
void WhenShown(std::function<void(TCustomForm*)> act)
{
    QTimer::singleShot(0, [act = std::move(act)] { act(Screen->ActiveForm()); });
}

void TypeInto(QWidget* widget, const std::string& text)
{
    for (char c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
        QCoreApplication::sendEvent(widget, &press);
    }
}

bool Dark(QRgb pixel)
{
    return qRed(pixel) + qGreen(pixel) + qBlue(pixel) < 300;
}

int DarkPixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += Dark(image.pixel(x, y)) ? 1 : 0;
    return count;
}

TEST(QtFormsTest, TheLoginDialogInModeThreeShowsItsDesign)
{
    UseQt();
    QImage shot;
    std::map<std::string, QRect> geometry;
    QRect labels[3];
    WhenShown([&](TCustomForm* form) {
        auto* dialog = dynamic_cast<TVekPasswordDialog*>(form);
        ASSERT_NE(dialog, nullptr);
        for (TControl* c : std::initializer_list<TControl*>{dialog->ebMasterKey, dialog->ebUsername,
                                                           dialog->ebPassword, dialog->OKButton,
                                                           dialog->CancelButton})
            geometry[c->Name()] = QtWidgetOf(c)->geometry();
        int i = 0;
        for (TLabel* label : {dialog->lblMasterKey, dialog->lblUsername, dialog->lblPassword})
            labels[i++] = QtWidgetOf(label)->geometry();
        shot = QtWidgetOf(dialog)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        shot.save(ORVEX_FORMSQT_OUTPUT "/formsqt-login-mode3.png");
        dialog->SetModalResult(mrCancel);
    });
    std::string key = "k", user = "admin", password = "pw";
    EXPECT_FALSE(ShowVekLoginDialog("/data/shop.vek", 3, key, user, password));

    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), QSize(336 - 8, 174 - 8 - FormsBackend().CaptionHeight()));
    EXPECT_EQ(geometry["ebMasterKey"], QRect(104, 14, 173, 21));
    EXPECT_EQ(geometry["ebUsername"], QRect(104, 42, 173, 21));
    EXPECT_EQ(geometry["ebPassword"], QRect(104, 76, 173, 21));
    EXPECT_EQ(geometry["OKButton"], QRect(118, 106, 65, 21));
    EXPECT_EQ(geometry["CancelButton"], QRect(197, 106, 65, 21));

    // The form's face, the three white edits, text in each label and button.
    EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(212, 208, 200));
    for (const char* edit : {"ebMasterKey", "ebUsername", "ebPassword"}) {
        const QRect r = geometry[edit];
        EXPECT_EQ(QColor(shot.pixel(r.right() - 8, r.center().y())), QColor(Qt::white)) << edit;
        EXPECT_NE(QColor(shot.pixel(r.left(), r.center().y())), QColor(212, 208, 200)) << edit;
    }
    for (const QRect& label : labels) {
        EXPECT_EQ(label.left(), 7);
        EXPECT_GT(DarkPixels(shot, label), 10);
    }
    EXPECT_EQ(labels[0].top(), 17);
    EXPECT_EQ(labels[1].top(), 45);
    EXPECT_EQ(labels[2].top(), 80);
    for (const char* button : {"OKButton", "CancelButton"})
        EXPECT_GT(DarkPixels(shot, geometry[button].adjusted(3, 3, -3, -3)), 10) << button;
    EXPECT_EQ(QColor(shot.pixel(geometry["OKButton"].left() - 3, 116)), QColor(212, 208, 200));
    // The edits hold the values given, the secret ones hidden.
    EXPECT_GT(DarkPixels(shot, geometry["ebUsername"].adjusted(3, 3, -3, -3)), 10);
}

TEST(QtFormsTest, TypingAndClickingGoThroughTheModelAndItsLimits)
{
    UseQt();
    WhenShown([](TCustomForm* form) {
        auto* dialog = dynamic_cast<TVekPasswordDialog*>(form);
        ASSERT_NE(dialog, nullptr);
        auto* keyEdit = static_cast<QLineEdit*>(QtWidgetOf(dialog->ebMasterKey));
        keyEdit->selectAll();
        TypeInto(keyEdit, std::string(41, 'k'));
        auto* passwordEdit = static_cast<QLineEdit*>(QtWidgetOf(dialog->ebPassword));
        passwordEdit->selectAll();
        TypeInto(passwordEdit, "secret");
        static_cast<QPushButton*>(QtWidgetOf(dialog->OKButton))->click();
    });
    std::string key = "k", user = "admin", password = "pw";
    ASSERT_TRUE(ShowVekLoginDialog("x.vek", 3, key, user, password));
    EXPECT_EQ(key, std::string(40, 'k'));
    EXPECT_EQ(user, "admin");
    EXPECT_EQ(password, "secret");
}

TEST(QtFormsTest, AnExceptionFromAClickEndsAtTheApplicationAndTheFormGoesOn)
{
    UseQt();
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 120);
    auto* edit = new TEdit(&form);
    edit->SetParent(&form);
    auto* failing = new TButton(&form);
    failing->SetParent(&form);
    failing->SetTop(30);
    failing->OnClick = [](TObject*) { throw Exception("boom"); };
    auto* ok = new TButton(&form);
    ok->SetParent(&form);
    ok->SetTop(60);
    ok->ModalResult = mrOk;
    std::string caught;
    Application->OnException = [&](TObject*, Exception& e) { caught = e.Message(); };
    WhenShown([&](TCustomForm*) {
        static_cast<QPushButton*>(QtWidgetOf(failing))->click();
        TypeInto(QtWidgetOf(edit), "after");
        static_cast<QPushButton*>(QtWidgetOf(ok))->click();
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    Application->OnException = nullptr;
    EXPECT_EQ(caught, "boom");
    EXPECT_EQ(edit->Text(), "after");
}

TEST(QtFormsTest, LabelsMeasureWithTheRealFont)
{
    UseQt();
    TForm form(nullptr);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetCaption("Database Password:");
    // Liberation Sans at 11 pixels: about five and a half pixels a character.
    EXPECT_GT(label->Width(), 80);
    EXPECT_LT(label->Width(), 115);
    EXPECT_GE(label->Height(), 11);
    EXPECT_LE(label->Height(), 16);
}

} // namespace
} // namespace orvex
