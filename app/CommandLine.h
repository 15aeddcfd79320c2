#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// What the operator asked for on the command line.
struct CommandLineOptions {
    QMap<QString, QString> comDevices; // "COM2" -> "/dev/ttyUSB0" or "virtual"
    QMap<QString, QString> lptDevices; // "LPT1" -> "/dev/parport0" or "virtual"
    bool virtualPrinter = false;
};

// Adds tellumo's description and options (--comN, --lptN, --virtual-printer)
// to a parser that has its help and version options.
void describeCommandLine(QCommandLineParser& parser);

// Parses the arguments with Qt's parser. --help and --version print and exit
// the process as QCommandLineParser does; a bad argument prints the error and
// the usage to stderr and exits with code 2.
CommandLineOptions parseCommandLine(const QStringList& arguments);

// Answers --help and --version on the terminal and exits, before any window
// system is touched, so both work without a display; returns at once when
// neither is asked for. Everything else is parsed once the application
// object has taken the window system's own options (-platform, -style ...).
void answerHelpOrVersion(int argc, char* argv[], const QString& version);
