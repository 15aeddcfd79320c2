#include "app/Program.h"

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/EndSignals.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "connection/PortChoices.h"
#include "connection/PortsWindow.h"
#include "simlink/VirtualPrinterStation.h"
#include "windowkit/MessageBoxes.h"
#include "windowkit/Messages.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Outlives the windows: closing ComPort1 with Form3 still talks to it.
std::unique_ptr<VirtualPrinterStation> virtualPrinter;

// Attaches the virtual printer when a port first leads to it, and shows its
// window; the main window's menu then shows it again whenever asked.
void attachVirtualPrinter() {
    if (!virtualPrinter) {
        virtualPrinter = std::make_unique<VirtualPrinterStation>();
        Form1->attachVirtualPrinter([] { virtualPrinter->showDocked(Form1); });
    }
    virtualPrinter->showDocked(Form1);
}

// Without Qt's Wayland plugin a Wayland session shows the windows through
// XWayland, which a user may wonder about (blurred scaling, no native
// decorations): says why, unless a platform was asked for.
void tellWhyXWayland() {
    const bool waylandSession =
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (!waylandSession || qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    if (platforms.entryList({QStringLiteral("libqwayland*")}).isEmpty())
        std::fputs("tellumo: Qt's Wayland plugin is not installed (Debian package qt6-wayland): "
                   "running through XWayland\n",
                   stderr);
}

} // namespace

int runProgram(int argc, char* argv[], const QString& version,
               const std::function<void()>& running) {
    answerHelpOrVersion(argc, argv, version);
    TApplication app(argc, argv);
    QApplication::setApplicationVersion(version);
    tellWhyXWayland();

    const CommandLineOptions options = parseCommandLine(QApplication::arguments());
    PortChoices::applyAtStart(options);

    MessageBoxSink messageBoxes;
    Messages::setSink(&messageBoxes);

    // From here to the end a session's signal ends the program as "Sair" does.
    const EndSignals endSignals;
    // An exception while the windows are made is shown and ends the program;
    // one leaving a handler later is caught by the application object.
    try {
        createForms();
        wireLinkDevices();
        if (PortChoices::anyVirtual())
            attachVirtualPrinter();
        QObject::connect(PortsWindow, &TPortsWindow::virtualPrinterChosen, attachVirtualPrinter);
        if (running)
            QTimer::singleShot(0, running);
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
        Messages::showException(e);
    }
    unwireLinkDevices();
    if (virtualPrinter)
        virtualPrinter->undock();
    destroyForms();
    virtualPrinter.reset();
    Messages::setSink(nullptr);
    return 0;
}
