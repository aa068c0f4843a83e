// Peers: the Qt widgets that show the model's controls and report the user's
// actions back to it.

#include "host/forms-qt/QtBackend.h"
#include "host/forms-qt/QtInternal.h"

#include "host/forms/Buttons.h"
#include "host/forms/ComCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <algorithm>

namespace orvex {

namespace {

// While the model's state is copied into the widgets, their signals and
// events are the model's own doing and are not reported back.
int Syncing = 0;

struct TSyncScope {
    TSyncScope() { ++Syncing; }
    ~TSyncScope() { --Syncing; }
    TSyncScope(const TSyncScope&) = delete;
    TSyncScope& operator=(const TSyncScope&) = delete;
};

bool Alive(const TControl* control)
{
    for (const TControl* c = control; c != nullptr; c = c->Parent())
        if (c->HasState(csDestroying))
            return false;
    return true;
}

// A memo's lines end in CR LF; Qt's in LF.
QString ToQtLines(const std::string& text)
{
    return ToQt(StringReplace(text, "\r\n", "\n", rfReplaceAll));
}

std::string FromQtLines(const QString& text)
{
    return StringReplace(FromQt(text), "\n", "\r\n", rfReplaceAll);
}

// Any of Qt's widgets, telling the model when it takes the focus.
template <class Base>
class TQtWidget : public Base {
public:
    explicit TQtWidget(TControl* control) : Base(nullptr), FControl(control) {}

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        Base::focusInEvent(event);
        if (Syncing > 0)
            return;
        TControl* control = FControl;
        QtDispatch(control, [control] {
            auto* win = dynamic_cast<TWinControl*>(control);
            if (TCustomForm* form = GetParentForm(win); form != nullptr && win != form)
                form->FocusedByUser(win);
        });
    }
    TControl* FControl;
};

// A control that paints itself through the model.
class TQtPaintWidget : public TQtWidget<QWidget> {
public:
    explicit TQtPaintWidget(TControl* control) : TQtWidget<QWidget>(control) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        TQtPainterDevice device(painter, Rect(0, 0, width(), height()));
        TControl* control = FControl;
        QtDispatch(control, [&] { PaintControlTo(control, device); });
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        const QPoint at = event->position().toPoint();
        FPressed = true;
        TControl* control = FControl;
        QtDispatch(control, [&] { control->MouseDown(at.x(), at.y()); });
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const QPoint at = event->position().toPoint();
        const bool click = FPressed && rect().contains(at);
        FPressed = false;
        QPointer<QWidget> self(this);
        TControl* control = FControl;
        QtDispatch(control, [&] { control->MouseUp(at.x(), at.y()); });
        if (click && self)
            QtDispatch(control, [control] { control->Click(); });
    }

private:
    bool FPressed = false;
};

// A form: a window (or a borderless child) that paints its background and
// answers its close box, Enter and Escape.
class TQtFormWidget : public TQtPaintWidget {
public:
    explicit TQtFormWidget(TCustomForm* form) : TQtPaintWidget(form), FForm(form) {}

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // The model decides whether and how the window goes.
        event->ignore();
        TCustomForm* form = FForm;
        QtDispatch(form, [form] { form->Close(); });
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        Word key = 0;
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            key = VK_RETURN;
        else if (event->key() == Qt::Key_Escape)
            key = VK_ESCAPE;
        bool used = false;
        TCustomForm* form = FForm;
        if (key != 0)
            QtDispatch(form, [&] { used = GetParentForm(form)->DialogKey(key); });
        if (used)
            event->accept();
        else
            TQtPaintWidget::keyPressEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override
    {
        TQtPaintWidget::resizeEvent(event);
        if (Syncing > 0 || !isWindow())
            return;
        TCustomForm* form = FForm;
        const QSize size = event->size();
        QtDispatch(form, [&] {
            form->SetClientWidth(size.width());
            form->SetClientHeight(size.height());
        });
    }
    void moveEvent(QMoveEvent* event) override
    {
        TQtPaintWidget::moveEvent(event);
        if (Syncing > 0 || !isWindow())
            return;
        TCustomForm* form = FForm;
        const QRect client = geometry();
        QtDispatch(form, [&] {
            const int frame = form->FrameWidth();
            form->SetBounds(client.x() - frame, client.y() - frame - form->CaptionBarHeight(),
                            form->Width(), form->Height());
        });
    }
    void changeEvent(QEvent* event) override
    {
        TQtPaintWidget::changeEvent(event);
        if (event->type() != QEvent::ActivationChange || Syncing > 0 || !isWindow() ||
            !isActiveWindow())
            return;
        TCustomForm* form = FForm;
        QtDispatch(form, [form] { Screen->ActivateForm(form); });
    }

private:
    TCustomForm* FForm;
};

class TQtPeer : public TControlPeer {
public:
    explicit TQtPeer(TControl* control);
    ~TQtPeer() override { delete FWidget.data(); }

    void Changed(TControlChange change) override;
    void Invalidate() override
    {
        if (FWidget)
            FWidget->update();
    }
    void Update() override
    {
        if (FWidget)
            FWidget->repaint();
    }
    void SetFocus() override
    {
        if (FWidget && FWidget->isVisible() && FWidget->focusPolicy() != Qt::NoFocus) {
            TSyncScope sync;
            FWidget->setFocus(Qt::OtherFocusReason);
        }
    }
    QWidget* Widget() const { return FWidget.data(); }

private:
    QWidget* MakeWidget();
    void SyncAll();
    void SyncState(QWidget* w);
    void SyncWindow(TCustomForm* form);
    TControl* FControl;
    QPointer<QWidget> FWidget;
};

QWidget* WidgetOf(const TControl* control)
{
    return control != nullptr && control->Peer() != nullptr ? QtPeerWidget(control->Peer()) : nullptr;
}

// Windowless controls lie under the windowed ones, each group in the model's order.
void Restack(TWinControl* parent)
{
    if (parent == nullptr)
        return;
    for (bool windowed : {false, true})
        for (int i = 0; i < parent->ControlCount(); ++i) {
            TControl* c = parent->Controls(i);
            if ((dynamic_cast<TWinControl*>(c) != nullptr) == windowed)
                if (QWidget* w = WidgetOf(c))
                    w->raise();
        }
}

void SetTabChain(TCustomForm* form)
{
    std::vector<TWinControl*> list;
    form->GetTabOrderList(list);
    QWidget* previous = nullptr;
    for (TWinControl* c : list) {
        QWidget* w = WidgetOf(c);
        if (w == nullptr || w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous != nullptr)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

TQtPeer::TQtPeer(TControl* control) : FControl(control)
{
    FWidget = MakeWidget();
    if (QWidget* parent = WidgetOf(control->Parent()))
        FWidget->setParent(parent);
    SyncAll();
    Restack(control->Parent());
}

QWidget* TQtPeer::MakeWidget()
{
    TControl* control = FControl;
    if (auto* form = dynamic_cast<TCustomForm*>(control))
        return new TQtFormWidget(form);
    if (auto* memo = dynamic_cast<TCustomMemo*>(control)) {
        auto* w = new TQtWidget<QPlainTextEdit>(control);
        QObject::connect(w, &QPlainTextEdit::textChanged, [memo, w] {
            if (Syncing == 0)
                QtDispatch(memo, [&] { memo->EditedByUser(FromQtLines(w->toPlainText())); });
        });
        return w;
    }
    if (auto* edit = dynamic_cast<TCustomEdit*>(control)) {
        auto* w = new TQtWidget<QLineEdit>(control);
        QObject::connect(w, &QLineEdit::textEdited, [edit](const QString& text) {
            QtDispatch(edit, [&] { edit->EditedByUser(FromQt(text)); });
        });
        return w;
    }
    if (auto* button = dynamic_cast<TButton*>(control)) {
        auto* w = new TQtWidget<QPushButton>(control);
        w->setAutoDefault(false);
        QObject::connect(w, &QPushButton::clicked, [button] {
            QtDispatch(button, [button] { button->Click(); });
        });
        return w;
    }
    if (auto* check = dynamic_cast<TCheckBox*>(control)) {
        auto* w = new TQtWidget<QCheckBox>(control);
        QObject::connect(w, &QCheckBox::clicked, [check, w] {
            QPointer<QWidget> alive(w);
            QtDispatch(check, [check] { check->Toggle(); });
            if (alive) {
                TSyncScope sync;
                w->setChecked(check->Checked());
            }
        });
        return w;
    }
    if (auto* radio = dynamic_cast<TRadioButton*>(control)) {
        auto* w = new TQtWidget<QRadioButton>(control);
        w->setAutoExclusive(false);
        QObject::connect(w, &QRadioButton::clicked, [radio, w] {
            QPointer<QWidget> alive(w);
            QtDispatch(radio, [radio] { radio->SetChecked(true); });
            if (alive) {
                TSyncScope sync;
                w->setChecked(radio->Checked());
            }
        });
        return w;
    }
    if (dynamic_cast<TProgressBar*>(control) != nullptr) {
        auto* w = new TQtWidget<QProgressBar>(control);
        w->setTextVisible(false);
        return w;
    }
    return new TQtPaintWidget(control);
}

void TQtPeer::Changed(TControlChange change)
{
    if (!FWidget)
        return;
    if (change == ccZOrder) {
        if (FControl->Parent() != nullptr)
            Restack(FControl->Parent());
        else if (FWidget->isVisible())
            FWidget->raise();
        return;
    }
    SyncAll();
}

void TQtPeer::SyncWindow(TCustomForm* form)
{
    QWidget* w = FWidget;
    Qt::WindowFlags flags = Qt::Window;
    switch (form->BorderStyle()) {
    case bsNone: flags |= Qt::FramelessWindowHint; break;
    case bsDialog: flags = Qt::Dialog; break;
    case bsToolWindow:
    case bsSizeToolWin: flags = Qt::Tool; break;
    default: break;
    }
    if (w->windowFlags() != flags)
        w->setWindowFlags(flags);
    const QString title = ToQt(form->Caption());
    if (w->windowTitle() != title)
        w->setWindowTitle(title);
    const int frame = form->FrameWidth();
    const QRect client(form->Left() + frame, form->Top() + frame + form->CaptionBarHeight(),
                       form->ClientWidth(), form->ClientHeight());
    if (w->geometry() != client)
        w->setGeometry(client);
    const bool show = form->Visible();
    if (show && !w->isVisible()) {
        w->setWindowModality(form->Modal() ? Qt::ApplicationModal : Qt::NonModal);
        SetTabChain(form);
        w->show();
        w->raise();
        w->activateWindow();
    } else if (!show && w->isVisible()) {
        w->hide();
    }
}

void TQtPeer::SyncState(QWidget* w)
{
    TControl* c = FControl;
    if (auto* memo = dynamic_cast<TCustomMemo*>(c)) {
        auto* e = static_cast<QPlainTextEdit*>(w);
        if (FromQtLines(e->toPlainText()) != memo->Text())
            e->setPlainText(ToQtLines(memo->Text()));
        e->setReadOnly(memo->ReadOnly());
        e->setLineWrapMode(memo->WordWrap() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    } else if (auto* edit = dynamic_cast<TCustomEdit*>(c)) {
        auto* e = static_cast<QLineEdit*>(w);
        const int length = static_cast<int>(edit->Text().size());
        // A program's text may be longer than what the user may type.
        e->setMaxLength(edit->MaxLength() > 0 ? std::max(edit->MaxLength(), length) : 32767);
        if (FromQt(e->text()) != edit->Text())
            e->setText(ToQt(edit->Text()));
        e->setReadOnly(edit->ReadOnly());
        e->setEchoMode(edit->PasswordChar() != 0 ? QLineEdit::Password : QLineEdit::Normal);
        const QString sheet = edit->PasswordChar() != 0
                                  ? QString("QLineEdit { lineedit-password-character: %1 }")
                                        .arg(static_cast<unsigned char>(edit->PasswordChar()))
                                  : QString();
        if (e->styleSheet() != sheet)
            e->setStyleSheet(sheet);
    } else if (auto* button = dynamic_cast<TButton*>(c)) {
        auto* b = static_cast<QPushButton*>(w);
        b->setText(ToQt(button->Caption()));
        b->setDefault(button->Default());
        if (auto* bitBtn = dynamic_cast<TBitBtn*>(button); bitBtn != nullptr && !bitBtn->Glyph()->Empty()) {
            const TRGBImage& image = bitBtn->Glyph()->Image();
            const QImage glyph(image.Bits(), image.Width(), image.Height(), image.BytesPerLine(),
                               QImage::Format_RGB888);
            b->setIcon(QPixmap::fromImage(glyph.copy()));
            b->setIconSize(QSize(image.Width(), image.Height()));
        }
    } else if (auto* check = dynamic_cast<TCheckBox*>(c)) {
        auto* b = static_cast<QCheckBox*>(w);
        b->setText(ToQt(check->Caption()));
        b->setChecked(check->Checked());
    } else if (auto* radio = dynamic_cast<TRadioButton*>(c)) {
        auto* b = static_cast<QRadioButton*>(w);
        b->setText(ToQt(radio->Caption()));
        b->setChecked(radio->Checked());
    } else if (auto* bar = dynamic_cast<TProgressBar*>(c)) {
        auto* p = static_cast<QProgressBar*>(w);
        p->setRange(bar->Min(), bar->Max());
        p->setValue(bar->Position());
    }
}

void TQtPeer::SyncAll()
{
    TSyncScope sync;
    QWidget* w = FWidget;
    TControl* c = FControl;
    const QFont font = ToQFont(*c->Font());
    if (w->font() != font)
        w->setFont(font);
    QPalette palette = w->palette();
    const QColor text = ToQColor(c->Font()->Color());
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Disabled, QPalette::Text, ToQColor(clGrayText));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, ToQColor(clGrayText));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, ToQColor(clGrayText));
    palette.setColor(QPalette::Base, ToQColor(c->Color()));
    if (w->palette() != palette)
        w->setPalette(palette);
    if (w->isEnabled() != c->Enabled())
        w->setEnabled(c->Enabled());
    auto* win = dynamic_cast<TWinControl*>(c);
    const bool painted = c->PaintCanvas() != nullptr;
    const Qt::FocusPolicy policy = win == nullptr || painted || dynamic_cast<TProgressBar*>(c) != nullptr
                                       ? Qt::NoFocus
                                       : (win->TabStop() ? Qt::StrongFocus : Qt::ClickFocus);
    if (w->focusPolicy() != policy)
        w->setFocusPolicy(policy);
    SyncState(w);

    auto* form = dynamic_cast<TCustomForm*>(c);
    if (form != nullptr && form->Parent() == nullptr) {
        SyncWindow(form);
    } else {
        const QRect bounds(c->Left(), c->Top(), c->Width(), c->Height());
        if (w->geometry() != bounds)
            w->setGeometry(bounds);
        if (w->isHidden() == c->Visible())
            w->setVisible(c->Visible());
    }
    w->update();
}

} // namespace

void QtDispatch(TControl* control, const std::function<void()>& work)
{
    if (control == nullptr || !Alive(control))
        return;
    Application->DispatchEvent(control, work);
}

std::unique_ptr<TControlPeer> CreateQtPeer(TControl* control)
{
    return std::make_unique<TQtPeer>(control);
}

QWidget* QtPeerWidget(TControlPeer* peer)
{
    auto* qt = dynamic_cast<TQtPeer*>(peer);
    return qt != nullptr ? qt->Widget() : nullptr;
}

QWidget* QtWidgetOf(TControl* control)
{
    return WidgetOf(control);
}

} // namespace orvex
