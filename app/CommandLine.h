#pragma once

#include "connection/PortChoices.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

// What the operator asked for on the command line: the ports' devices.
using CommandLineOptions = PortChoices::Overrides;

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
