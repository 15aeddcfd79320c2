#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

CommandLineOptions parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Demonstration, test and set-up tool for the Korvexa Dual receipt printer."));
    parser.addHelpOption();
    parser.addVersionOption();

    QList<QCommandLineOption> com;
    for (int n = 1; n <= 4; ++n) {
        com.append(QCommandLineOption(
            QStringLiteral("com%1").arg(n),
            QStringLiteral("Use DEVICE for COM%1 (default /dev/ttyS%2; \"virtual\" for the virtual "
                           "printer).")
                .arg(n)
                .arg(n - 1),
            QStringLiteral("DEVICE")));
    }
    QList<QCommandLineOption> lpt;
    for (int n = 1; n <= 2; ++n) {
        lpt.append(QCommandLineOption(
            QStringLiteral("lpt%1").arg(n),
            QStringLiteral("Use DEVICE for LPT%1 (default /dev/parport%2; \"virtual\" for the "
                           "virtual printer).")
                .arg(n)
                .arg(n - 1),
            QStringLiteral("DEVICE")));
    }
    QCommandLineOption virtualPrinter(
        QStringLiteral("virtual-printer"),
        QStringLiteral("Connect COM1-COM4 and LPT1-LPT2 to the built-in virtual printer and show "
                       "its window."));
    parser.addOptions(com);
    parser.addOptions(lpt);
    parser.addOption(virtualPrinter);

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        std::exit(2);
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "Unexpected argument: %s\n\n%s",
                     qPrintable(parser.positionalArguments().first()),
                     qPrintable(parser.helpText()));
        std::exit(2);
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    CommandLineOptions options;
    options.virtualPrinter = parser.isSet(virtualPrinter);
    for (int n = 1; n <= 4; ++n) {
        if (parser.isSet(com[n - 1]))
            options.comDevices.insert(QStringLiteral("COM%1").arg(n), parser.value(com[n - 1]));
    }
    for (int n = 1; n <= 2; ++n) {
        if (parser.isSet(lpt[n - 1]))
            options.lptDevices.insert(QStringLiteral("LPT%1").arg(n), parser.value(lpt[n - 1]));
    }
    return options;
}
