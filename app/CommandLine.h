#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// What the operator asked for on the command line.
struct CommandLineOptions {
    QMap<QString, QString> comDevices; // "COM2" -> "/dev/ttyUSB0" or "virtual"
    QMap<QString, QString> lptDevices; // "LPT1" -> "/dev/parport0" or "virtual"
    bool virtualPrinter = false;
};

// Parses the arguments with Qt's parser. --help and --version print and exit
// the process as QCommandLineParser does; a bad argument prints the error and
// the usage to stderr and exits with code 2.
CommandLineOptions parseCommandLine(const QStringList& arguments);
