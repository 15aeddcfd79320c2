#include "app/Application.h"

#include "windowkit/Messages.h"

#include <QFont>
#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(Messages::applicationTitle());
    // Matches the installed tellumo.desktop, for the desktop's icon and name.
    setDesktopFileName(QStringLiteral("tellumo"));
    // The windows name the fonts of the desktop they were drawn for; these are
    // the closest shapes a Debian desktop has (fonts-liberation2 and the URW set).
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono"),
                                                               QStringLiteral("DejaVu Sans Mono")});
    QFont::insertSubstitutions(
        QStringLiteral("Times New Roman"),
        {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(QStringLiteral("Black Chancery"),
                               {QStringLiteral("Z003"), QStringLiteral("URW Chancery L"),
                                QStringLiteral("Liberation Serif")});
    // Ending is explicit (ProgramEnd): a hidden or visible secondary window
    // must not keep the program alive, nor may closing one end it.
    setQuitOnLastWindowClosed(false);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Messages::showException(e);
    }
    return false;
}
