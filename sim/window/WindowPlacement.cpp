#include "sim/window/WindowPlacement.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

QMargins frameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

namespace {

constexpr int Gap = 8;

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

} // namespace

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
