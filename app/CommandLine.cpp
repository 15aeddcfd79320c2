#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

QString comOption(int n) {
    return QStringLiteral("com%1").arg(n);
}
QString lptOption(int n) {
    return QStringLiteral("lpt%1").arg(n);
}

bool asksForHelpOrVersion(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* flag : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], flag) == 0)
                return true;
    }
    return false;
}

// Prints the usage or the version and exits the process when either is asked for.
void answerIfAsked(QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
}

} // namespace

void describeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Demonstration, test and set-up tool for the Korvexa Dual receipt printer.\n"
                       "Ports chosen in \"Portas do sistema\" are remembered; --comN and --lptN "
                       "override them for one run."));
    for (int n = 1; n <= 4; ++n) {
        parser.addOption(QCommandLineOption(
            comOption(n),
            QStringLiteral("Use DEVICE for COM%1 (default /dev/ttyS%2; \"virtual\" for the virtual "
                           "printer; tcp://HOST:PORT for a printer's network port, "
                           "rfc2217://HOST:PORT for a serial device server).")
                .arg(n)
                .arg(n - 1),
            QStringLiteral("DEVICE")));
    }
    for (int n = 1; n <= 2; ++n) {
        parser.addOption(QCommandLineOption(
            lptOption(n),
            QStringLiteral("Use DEVICE for LPT%1: a /dev/parportN, /dev/lpN or /dev/usb/lpN "
                           "(default the port at %2), or \"virtual\" for the virtual printer.")
                .arg(n)
                .arg(QLatin1String(n == 1 ? "0x378" : "0x278")),
            QStringLiteral("DEVICE")));
    }
    parser.addOption(QCommandLineOption(
        QStringLiteral("virtual-printer"),
        QStringLiteral("Connect COM1-COM4 and LPT1-LPT2 to the built-in virtual printer and show "
                       "its window.")));
}

CommandLineOptions parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    describeCommandLine(parser);

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
    answerIfAsked(parser);

    CommandLineOptions options;
    options.virtualPrinter = parser.isSet(QStringLiteral("virtual-printer"));
    for (int n = 1; n <= 4; ++n) {
        if (parser.isSet(comOption(n)))
            options.comDevices.insert(comOption(n).toUpper(), parser.value(comOption(n)));
    }
    for (int n = 1; n <= 2; ++n) {
        if (parser.isSet(lptOption(n)))
            options.lptDevices.insert(lptOption(n).toUpper(), parser.value(lptOption(n)));
    }
    return options;
}

void answerHelpOrVersion(int argc, char* argv[], const QString& version) {
    if (!asksForHelpOrVersion(argc, argv))
        return;
    // A core application is all the parser needs to print; the program's own
    // application object, which connects to the display, comes later.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tellumo"));
    QCoreApplication::setApplicationVersion(version);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    describeCommandLine(parser);
    // A bad argument beside --help is reported by the program's own parse.
    parser.parse(QCoreApplication::arguments());
    answerIfAsked(parser);
}
