#include "windowkit/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

void MessageBoxSink::show(Messages::Form form, const QString& title, const QString& text) {
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
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}
