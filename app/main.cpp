#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "app/MessageBoxes.h"
#include "app/Messages.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "sim/VirtualPrinterSetup.h"

#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

int main(int argc, char* argv[]) {
    const QString version = QStringLiteral(TELLUMO_VERSION);
    answerHelpOrVersion(argc, argv, version);
    TApplication app(argc, argv);
    QApplication::setApplicationVersion(version);

    const CommandLineOptions options = parseCommandLine(QApplication::arguments());
    for (auto it = options.comDevices.cbegin(); it != options.comDevices.cend(); ++it)
        PortMap::map(it.key(), it.value());
    for (auto it = options.lptDevices.cbegin(); it != options.lptDevices.cend(); ++it)
        LptMap::map(it.key(), it.value());

    MessageBoxSink messageBoxes;
    Messages::setSink(&messageBoxes);

    // Outlives the windows: closing ComPort1 with Form3 still talks to it.
    std::unique_ptr<VirtualPrinterStation> virtualPrinter;

    // An exception while the windows are made is shown and ends the program;
    // one leaving a handler later is caught by the application object.
    try {
        createForms();
        wireLinkDevices();
        virtualPrinter = setUpVirtualPrinter(options, Form1);
        // The start-up benchmark's probe: report the first idle moment of the
        // event loop, once the main window is up, and end.
        if (qEnvironmentVariableIsSet("TELLUMO_QUIT_WHEN_IDLE")) {
            QTimer::singleShot(0, [] {
                std::fputs("idle\n", stdout);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        QApplication::exec();
    } catch (const std::exception& e) {
        Messages::showException(QString::fromUtf8(e.what()));
    }
    unwireLinkDevices();
    destroyForms();
    return 0;
}
