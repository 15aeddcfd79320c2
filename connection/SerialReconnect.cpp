#include "connection/SerialReconnect.h"

#include "link/comport/NetworkAddress.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

constexpr int LookAgainMs = 250;
constexpr int LookForMs = 3000;
constexpr int FirstServerPauseMs = 1000;
constexpr int LongestServerPauseMs = 30000;

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
    serverPause_.setSingleShot(true);
    connect(&serverPause_, &QTimer::timeout, this, &TDeviceReturn::tryServer);
}

void TDeviceReturn::watch(const QString& path) {
    stop();
    path_ = path;
    if (NetworkAddress::isUrl(path))
        serverPause_.start(FirstServerPauseMs);
    else
        folderChanged();
}

// The next pause starts once the try has failed: a try takes up to 5 s, the
// event loop running, and a success or the operator ends the wait (stop()).
void TDeviceReturn::tryServer() {
    const int next = std::min(serverPause_.interval() * 2, LongestServerPauseMs);
    emit present();
    if (NetworkAddress::isUrl(path_))
        serverPause_.start(next);
}

void TDeviceReturn::stop() {
    path_.clear();
    again_.stop();
    serverPause_.stop();
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
}

void TDeviceReturn::folderChanged() {
    if (path_.isEmpty() || NetworkAddress::isUrl(path_))
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
