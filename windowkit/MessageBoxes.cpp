#include "windowkit/MessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>

namespace {

// What a window manager's title bar holds besides the title: the window's
// icon and its buttons, with their margins.
constexpr int TitleBarControls = 160;

// Qt gives a message box the width of its text only up to 500 pixels and
// then breaks lines wherever a word ends; and it makes a short message's box
// narrower than its title bar needs. The program's messages put each sentence
// on a line of its own: the text is given the width of its longest line, as
// far as Qt lets a box grow on the screen, and the box the width its title
// needs.
void fitWidth(QMessageBox& box, const QString& title, const QString& text) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    int lines = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines = std::max(lines, metrics.horizontalAdvance(line));
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int iconColumn = box.iconPixmap().isNull() ? 0 : box.iconPixmap().width() + 24;
    const int titleNeeds =
        QFontMetrics(titleFont).horizontalAdvance(title) + TitleBarControls - iconColumn;
    int widest = 1000;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const int screenWidth = screen->availableGeometry().width();
        widest = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
    }
    label->setMinimumWidth(std::min(std::max(lines, titleNeeds), widest - iconColumn - 48));
}

} // namespace

std::unique_ptr<QMessageBox> MessageBoxSink::box(Messages::Form form, const QString& title,
                                                 const QString& text) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (form) {
    case Messages::Form::Plain:
    case Messages::Form::OpenError:
        break;
    case Messages::Form::Warning:
        icon = QMessageBox::Warning;
        break;
    case Messages::Form::Exception:
        icon = QMessageBox::Critical;
        break;
    }
    // No parent: the box centres on the screen, as the program's messages always have.
    auto shown = std::make_unique<QMessageBox>(icon, title, text, QMessageBox::Ok);
    // A printer's reply or a file name is shown as it is, never read as markup.
    shown->setTextFormat(Qt::PlainText);
    fitWidth(*shown, title, text);
    return shown;
}

void MessageBoxSink::show(Messages::Form form, const QString& title, const QString& text) {
    box(form, title, text)->exec();
}
