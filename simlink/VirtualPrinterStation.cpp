#include "simlink/VirtualPrinterStation.h"

#include "sim/printer/PrinterClock.h"
#include "sim/printer/VirtualPrinter.h"
#include "sim/window/VirtualPrinterWindow.h"
#include "sim/window/WindowPlacement.h"
#include "simlink/PrinterLinks.h"

#include <QApplication>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace {

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
