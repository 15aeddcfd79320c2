#include "windowkit/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

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
    return shown;
}

void MessageBoxSink::show(Messages::Form form, const QString& title, const QString& text) {
    box(form, title, text)->exec();
}
