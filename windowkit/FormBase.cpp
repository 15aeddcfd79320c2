#include "windowkit/FormBase.h"

#include "windowkit/GlyphButton.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

TFormBase::TFormBase(const QString& caption, QSize clientSize, CaptionButtons buttons,
                     std::optional<QPoint> screenPos)
    : QDialog(nullptr), buttons_(buttons) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (buttons == CaptionButtons::SystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setWindowTitle(caption);
    setFixedSize(clientSize);
    setSizeGripEnabled(false);

    QFont base(QStringLiteral("MS Sans Serif"));
    base.setPixelSize(11);
    setFont(base);

    if (screenPos)
        move(*screenPos);
    else
        centreOnScreen(this);
}

void TFormBase::showForm() {
    showWindow(this);
}

void TFormBase::reject() {
    if (cancelButton_) {
        if (cancelButton_->isEnabled() && cancelButton_->isVisible())
            cancelButton_->click();
        return;
    }
    // Without a cancel button Esc simply hides the window, so a window whose
    // own buttons are still to come can always be left.
    hide();
}

void TFormBase::closeEvent(QCloseEvent* event) {
    // A close box simply hides the window. A window without one is still
    // closed by the window manager (its own title-bar button, Alt+F4): that
    // request does what the window's cancel button does, whose handler may
    // have more to do than hiding it (giving the main window back).
    if (buttons_ == CaptionButtons::SystemMenu)
        event->accept();
    else
        QDialog::closeEvent(event); // reject(), and the window stays if that kept it
}

QPushButton* bitBtn(QWidget* parent, const char* name, const QString& text, const QIcon& icon,
                    const QRect& place, int glyphSize, GlyphPlace glyphPlace) {
    auto* button = glyphPlace == GlyphPlace::Above ? new GlyphButton(icon, text, parent)
                                                   : new QPushButton(icon, text, parent);
    button->setObjectName(QLatin1String(name));
    button->setIconSize(QSize(glyphSize, glyphSize));
    button->setAutoDefault(false);
    button->setGeometry(place);
    return button;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, const QRect& place,
                    bool checked) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    box->setGeometry(place);
    return box;
}

WaitCursor::WaitCursor(bool active) : active_(active) {
    if (active_)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor() {
    if (active_)
        QGuiApplication::restoreOverrideCursor();
}

void showWindow(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize size = window->sizeHint().expandedTo(window->minimumSize());
        window->move(screen->geometry().center() - QPoint(size.width() / 2, size.height() / 2));
    }
}
