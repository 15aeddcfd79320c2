#include "app/CommandLine.h"
#include "app/MessageBoxes.h"
#include "link/comport/PortMap.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellumo"));
    QApplication::setApplicationVersion(QStringLiteral(TELLUMO_VERSION));

    const CommandLineOptions options = parseCommandLine(QApplication::arguments());
    for (auto it = options.comDevices.cbegin(); it != options.comDevices.cend(); ++it)
        PortMap::map(it.key(), it.value());

    MessageBoxSink messageBoxes;
    Messages::setSink(&messageBoxes);

    QMainWindow window;
    window.setWindowTitle(Messages::applicationTitle());
    window.show();
    return QApplication::exec();
}
