#pragma once

#include "sim/printer/LineSettings.h"
#include "sim/printer/VirtualPrinter.h"

#include <QString>

// tellumo-printer's command line, read and checked.
struct PrinterOptions {
    QString png;
    int pngScale = 1;
    QString text;
    QString events;
    QString link;
    QString control;
    QString listen;
    QString rfc2217;
    QString http;
    LineSettings line;
    int idleTimeout = 0;
    bool compatible = false;
    bool window = false;
    double linesPerSecond = VirtualPrinter::DefaultLinesPerSecond;
};

// Everything is read and checked before the window system is touched: --help
// works on a bare terminal, and a file that could not be written at the end
// is refused before anything is printed. Exits on a bad argument.
PrinterOptions parseArguments(int argc, char* argv[]);

// Says why on standard error and exits with status 2.
[[noreturn]] void refuse(const QString& why);
