#include "sim/VirtualPrinterSetup.h"

#include "sim/PrinterClock.h"
#include "sim/PrinterLinks.h"
#include "sim/VirtualPrinter.h"
#include "sim/VirtualPrinterWindow.h"

#include <QApplication>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int Gap = 8;

// The window system's frame around a window's client area, once it has one.
QMargins frameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

void place(QWidget* window, QWidget* mainWindow) {
    const QScreen* screen = (mainWindow ? mainWindow : window)->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // Before the window manager has framed the printer's window, the main
    // window's frame is the best guess at its frame.
    QMargins frame = frameMargins(window);
    if (frame.isNull() && mainWindow)
        frame = frameMargins(mainWindow);
    // The window system would open it at two thirds of the screen at most;
    // it opens at the size it asks for, as far as the screen has room.
    window->resize(window->sizeHint().boundedTo(available.size().shrunkBy(frame)));
    const WindowPlaces places =
        placeBeside(window->size().grownBy(frame),
                    mainWindow ? mainWindow->frameGeometry() : QRect(), available);
    if (mainWindow && places.main != mainWindow->frameGeometry().topLeft())
        mainWindow->move(places.main);
    window->move(places.beside);
    window->raise();
}

// The window system's frame before it has drawn one: a common title bar and border.
constexpr QMargins UsualFrame(4, 30, 4, 4);
// The dock's title and the separator beside it.
constexpr QSize DockExtra(8, 24);
// A Wayland client is not told where the desktop's panels are (nor is an X11
// one without a window manager that reserves them): room for a top bar.
constexpr int PanelAllowance = 48;

// Holds the printer's window in the dock and asks for the size that fits
// beside the main window's client area on its screen.
class DockedPrinter : public QWidget {
public:
    DockedPrinter(QWidget* printerWindow, QMainWindow* mainWindow)
        : printer_(printerWindow), mainWindow_(mainWindow) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins({});
        layout->addWidget(printerWindow);
    }

    QSize sizeHint() const override {
        if (!printer_ || !mainWindow_ || !mainWindow_->screen())
            return QWidget::sizeHint();
        QMargins frame = frameMargins(mainWindow_);
        if (frame.isNull())
            frame = UsualFrame;
        const QSize menu(0, mainWindow_->menuBar()->sizeHint().height());
        const QScreen* screen = mainWindow_->screen();
        QSize available = screen->availableGeometry().size();
        if (available == screen->size())
            available.rheight() -= PanelAllowance;
        return dockedSize(printer_->sizeHint(), printer_->minimumSizeHint(), available,
                          mainWindow_->centralWidget()->size(),
                          QSize(frame.left() + frame.right(), frame.top() + frame.bottom()) + menu +
                              DockExtra);
    }

private:
    QPointer<QWidget> printer_;
    QPointer<QMainWindow> mainWindow_;
};

} // namespace

VirtualPrinterStation::VirtualPrinterStation()
    : printer_(std::make_unique<VirtualPrinter>()),
      clock_(std::make_unique<PrinterClock>(printer_.get())),
      links_(std::make_unique<PrinterLinks>(printer_.get(), clock_.get())),
      window_(std::make_unique<VirtualPrinterWindow>(printer_.get())) {
    links_->installProviders();
    clock_->start();
}

// The window goes before the links and the printer it shows.
VirtualPrinterStation::~VirtualPrinterStation() {
    window_.reset();
    links_.reset();
    clock_.reset();
}

void VirtualPrinterStation::showDocked(QMainWindow* mainWindow) {
    if (!dock_)
        makeDock(mainWindow);
    window_->show();
    dock_->show();
    dock_->raise();
    fitOnScreen(mainWindow);
}

void VirtualPrinterStation::makeDock(QMainWindow* mainWindow) {
    dock_ = new QDockWidget(QStringLiteral("Impressora virtual"), mainWindow);
    dock_->setObjectName(QStringLiteral("VirtualPrinterDock"));
    dock_->setAllowedAreas(Qt::RightDockWidgetArea);
    dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
    // The printer keeps its own look, not the main window's font and colours.
    QFont font = QApplication::font();
    font.setResolveMask(QFont::AllPropertiesResolved);
    dock_->setFont(font);
    QPalette palette = QApplication::palette();
    palette.setResolveMask(~QPalette::ResolveMask(0));
    dock_->setPalette(palette);
    dock_->setWidget(new DockedPrinter(window_.get(), mainWindow));
    mainWindow->addDockWidget(Qt::RightDockWidgetArea, dock_);
    QObject::connect(dock_, &QDockWidget::topLevelChanged, dock_,
                     [this, mainWindow] { fitOnScreen(mainWindow); });
}

// Where the window system lets a program place windows: docked, the main
// window grown by the printer comes back wholly onto the screen; floated
// with the dock's button, the printer goes beside the main window (a drag
// leaves it where it was dropped).
void VirtualPrinterStation::fitOnScreen(QMainWindow* mainWindow) {
    if (!dock_->isFloating()) {
        mainWindow->layout()->activate();
        showOnScreen(mainWindow, nullptr);
    } else if (QGuiApplication::mouseButtons() == Qt::NoButton) {
        showOnScreen(dock_, mainWindow);
    }
}

void VirtualPrinterStation::undock() {
    if (dock_)
        window_->setParent(nullptr);
    dock_ = nullptr;
}

QSize dockedSize(QSize natural, QSize minimum, QSize available, QSize mainClient, QSize extra) {
    const QSize room(available.width() - mainClient.width() - extra.width(),
                     available.height() - extra.height());
    return natural.boundedTo(room).expandedTo(minimum);
}

WindowPlaces placeBeside(QSize frame, const QRect& mainFrame, const QRect& available) {
    const auto inside = [&](int x, int y) {
        return QPoint(
            std::clamp(x, available.left(),
                       std::max(available.left(), available.right() + 1 - frame.width())),
            std::clamp(y, available.top(),
                       std::max(available.top(), available.bottom() + 1 - frame.height())));
    };
    if (mainFrame.isNull()) {
        const QPoint centred = available.center() - QPoint(frame.width() / 2, frame.height() / 2);
        return {{}, inside(centred.x(), centred.y())};
    }
    const int right = mainFrame.right() + 1 + Gap;
    if (right + frame.width() <= available.right() + 1)
        return {mainFrame.topLeft(), inside(right, mainFrame.top())};
    const int left = mainFrame.left() - Gap - frame.width();
    if (left >= available.left())
        return {mainFrame.topLeft(), inside(left, mainFrame.top())};
    const int pair = mainFrame.width() + Gap + frame.width();
    if (pair <= available.width()) {
        const QPoint main(available.left() + (available.width() - pair) / 2, mainFrame.top());
        return {main, inside(main.x() + mainFrame.width() + Gap, mainFrame.top())};
    }
    // The two overlap: at opposite edges, as little of the main window is covered as can be.
    return {QPoint(available.left(), mainFrame.top()),
            inside(available.right() + 1 - frame.width(), mainFrame.top())};
}

void showOnScreen(QWidget* window, QWidget* mainWindow) {
    window->show();
    window->raise();
    window->activateWindow();
    // The main window has its frame only once the event loop has shown it,
    // and this window's own frame is known only once the window manager has
    // drawn it: placed at once, then again with the frames as they came out.
    for (const int ms : {0, 300})
        QTimer::singleShot(ms, window, [window, mainWindow = QPointer<QWidget>(mainWindow)] {
            place(window, mainWindow);
        });
}
