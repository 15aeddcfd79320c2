#pragma once

#include <QApplication>

// The application object. An exception that leaves any event handler ends up
// here and is shown with the exception display; the program then goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
