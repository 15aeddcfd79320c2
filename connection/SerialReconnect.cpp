#include "connection/SerialReconnect.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int LookAgainMs = 250;
constexpr int LookForMs = 3000;

QSettings settings() {
    return QSettings(QSettings::UserScope, QStringLiteral("Tellumo"), QStringLiteral("tellumo"));
}

const QString EnabledKey = QStringLiteral("serial/reconnect");

} // namespace

namespace SerialReconnect {

bool enabled() {
    return settings().value(EnabledKey, true).toBool();
}

void setEnabled(bool on) {
    settings().setValue(EnabledKey, on);
}

} // namespace SerialReconnect

TDeviceReturn::TDeviceReturn(QObject* parent) : QObject(parent) {
    again_.setInterval(LookAgainMs);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &TDeviceReturn::folderChanged);
    connect(&again_, &QTimer::timeout, this, &TDeviceReturn::lookAgain);
}

void TDeviceReturn::watch(const QString& path) {
    stop();
    path_ = path;
    folderChanged();
}

void TDeviceReturn::stop() {
    path_.clear();
    again_.stop();
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
}

void TDeviceReturn::folderChanged() {
    if (path_.isEmpty())
        return;
    QString folder = QFileInfo(path_).absolutePath();
    while (!QFileInfo(folder).isDir() && !QDir(folder).isRoot())
        folder = QFileInfo(folder).absolutePath();
    if (watcher_.directories() != QStringList{folder}) {
        if (!watcher_.directories().isEmpty())
            watcher_.removePaths(watcher_.directories());
        watcher_.addPath(folder);
    }
    if (!QFileInfo::exists(path_))
        return;
    // Told from the event loop, so that whoever called watch() finishes first.
    since_.start();
    again_.start();
    QMetaObject::invokeMethod(this, &TDeviceReturn::lookAgain, Qt::QueuedConnection);
}

void TDeviceReturn::lookAgain() {
    if (path_.isEmpty() || since_.elapsed() > LookForMs || !QFileInfo::exists(path_)) {
        again_.stop();
        return;
    }
    emit present();
}
