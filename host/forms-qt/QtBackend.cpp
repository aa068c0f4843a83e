// The Qt 6 Widgets backend.

#include "host/forms-qt/QtBackend.h"

#include "host/forms-qt/QtInternal.h"
#include "host/forms/Backend.h"
#include "host/forms/Forms.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

#include <string>

namespace orvex {

namespace {

class TQtBackend : public TFormsBackend {
public:
    TQtBackend(int& argc, char** argv)
    {
        if (QApplication::instance() == nullptr) {
            // Qt keeps the arguments it was given for its whole life.
            static int qtArgc = 1;
            static std::string program = argc > 0 && argv != nullptr && argv[0] != nullptr
                                             ? argv[0]
                                             : std::string("orvex");
            static char* qtArgv[] = {program.data(), nullptr};
            new QApplication(qtArgc, qtArgv);
        }
        // One look on every machine, and fonts with the metrics the forms
        // were designed for.
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
        QFont::insertSubstitution("Arial", "Liberation Sans");
        QFont::insertSubstitution("Times New Roman", "Liberation Serif");
        QFont::insertSubstitution("Courier New", "Liberation Mono");
    }

    std::string Name() const override { return "qt"; }

    TSize ScreenSize() override
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr)
            return {1024, 768};
        return {screen->geometry().width(), screen->geometry().height()};
    }

    int CaptionHeight() override
    {
        return QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    }

    TSize TextExtent(const TFont& font, const std::string& text) override
    {
        return QtTextExtent(font, text);
    }

    std::unique_ptr<TCanvasDevice> CreateImageDevice(TRGBImage& image) override
    {
        return CreateQtImageDevice(image);
    }

    std::unique_ptr<TControlPeer> CreatePeer(TControl* control) override
    {
        return CreateQtPeer(control);
    }

    TModalWait WaitModal(TCustomForm* form) override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return mwContinue;
    }

    void RunLoop() override
    {
        while (!Application->Terminated()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            Application->FreeReleasedForms();
        }
    }

    void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    int MessageBox(const std::string& text, const std::string& caption, int flags) override
    {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(ToQt(caption));
        box.setText(ToQt(text));
        switch (flags & MB_ICONMASK) {
        case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
        }
        struct TChoice {
            int Answer;
            QMessageBox::StandardButton Button;
        };
        const TChoice all[] = {
            {IDOK, QMessageBox::Ok},       {IDCANCEL, QMessageBox::Cancel},
            {IDABORT, QMessageBox::Abort}, {IDRETRY, QMessageBox::Retry},
            {IDIGNORE, QMessageBox::Ignore}, {IDYES, QMessageBox::Yes},
            {IDNO, QMessageBox::No},
        };
        std::vector<TChoice> shown;
        for (const TChoice& choice : all)
            if (MessageBoxHasAnswer(flags, choice.Answer))
                shown.push_back(choice);
        // The buttons in the order the box type names them.
        static const int order[][3] = {{IDOK, 0, 0},      {IDOK, IDCANCEL, 0},
                                       {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
                                       {IDYES, IDNO, 0},  {IDRETRY, IDCANCEL, 0}};
        const int type = std::min(flags & MB_TYPEMASK, 5);
        std::vector<QAbstractButton*> buttons;
        for (int answer : order[type]) {
            for (const TChoice& choice : shown)
                if (choice.Answer == answer)
                    buttons.push_back(box.addButton(choice.Button));
        }
        const int defaultIndex = (flags & MB_DEFMASK) >> 8;
        if (defaultIndex < static_cast<int>(buttons.size()))
            box.setDefaultButton(static_cast<QPushButton*>(buttons[defaultIndex]));
        const int cancelAnswer = MessageBoxCancelAnswer(flags);
        for (std::size_t i = 0; i < buttons.size(); ++i)
            for (const TChoice& choice : shown)
                if (choice.Answer == cancelAnswer && box.button(choice.Button) == buttons[i])
                    box.setEscapeButton(buttons[i]);
        box.exec();
        for (const TChoice& choice : shown)
            if (box.clickedButton() == box.button(choice.Button))
                return choice.Answer;
        return cancelAnswer;
    }

    bool BrowseForFolder(TFolderBrowse& browse) override
    {
        const QString folder = QFileDialog::getExistingDirectory(
            QApplication::activeWindow(), ToQt(browse.Title), ToQt(browse.StartFolder),
            QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (folder.isEmpty())
            return false;
        browse.Folder = FromQt(folder);
        return true;
    }

    void CursorChanged(TCursor cursor) override
    {
        if (cursor == crDefault) {
            while (QApplication::overrideCursor() != nullptr)
                QApplication::restoreOverrideCursor();
            return;
        }
        Qt::CursorShape shape = Qt::ArrowCursor;
        switch (cursor) {
        case crHourGlass:
        case crSQLWait: shape = Qt::WaitCursor; break;
        case crAppStart: shape = Qt::BusyCursor; break;
        case crIBeam: shape = Qt::IBeamCursor; break;
        case crCross: shape = Qt::CrossCursor; break;
        case crHandPoint: shape = Qt::PointingHandCursor; break;
        case crNo: shape = Qt::ForbiddenCursor; break;
        case crNone: shape = Qt::BlankCursor; break;
        default: break;
        }
        if (QApplication::overrideCursor() != nullptr)
            QApplication::changeOverrideCursor(QCursor(shape));
        else
            QApplication::setOverrideCursor(QCursor(shape));
    }
};

} // namespace

void UseQtFormsBackend(int& argc, char** argv)
{
    UseFormsBackend(std::make_unique<TQtBackend>(argc, argv));
}

} // namespace orvex
