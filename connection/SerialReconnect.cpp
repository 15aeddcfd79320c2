#include "connection/SerialReconnect.h"

#include "connection/ProgramSettings.h"
#include "link/comport/lines/network/NetworkAddress.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

constexpr int LookAgainMs = 250;
constexpr int LookForMs = 3000;

SerialReconnect::Pace currentPace;

QSettings settings() {
    return QSettings(QSettings::UserScope, ProgramSettings::Organisation,
                     ProgramSettings::Application);
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

Pace pace() {
    return currentPace;
}

void setPace(const Pace& pace) {
    currentPace = pace;
}

} // namespace SerialReconnect

TDeviceReturn::TDeviceReturn(QObject* parent) : QObject(parent) {
    again_.setInterval(LookAgainMs);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &TDeviceReturn::folderChanged);
    connect(&again_, &QTimer::timeout, this, &TDeviceReturn::lookAgain);
    serverPause_.setSingleShot(true);
    connect(&serverPause_, &QTimer::timeout, this, &TDeviceReturn::tryServer);
}

bool TDeviceReturn::watch(const QString& path) {
    const bool network = NetworkAddress::isUrl(path);
    // A line lost before any connection of this outage lived long enough
    // (one lost while its open was still under way included) goes on with it.
    const bool goesOn =
        network && outage_ && path == path_ &&
        (!connectedAt_.isValid() || connectedAt_.elapsed() < currentPace.shortLivedMs);
    stopTries();
    connectedAt_.invalidate();
    path_ = path;
    if (!network) {
        folderChanged();
        return true;
    }
    if (!goesOn)
        pauseMs_ = currentPace.firstPauseMs;
    outage_ = true;
    serverPause_.start(pauseMs_);
    return !goesOn;
}

void TDeviceReturn::connected() {
    if (!NetworkAddress::isUrl(path_)) {
        stop();
        return;
    }
    stopTries();
    connectedAt_.start();
}

bool TDeviceReturn::waitsForServer() const {
    return NetworkAddress::isUrl(path_) && !connectedAt_.isValid();
}

// The next pause starts once the try has failed: a try takes up to 5 s, the
// event loop running, and a connection, a new watch() or the operator
// (stop()) meanwhile decide what comes next themselves.
void TDeviceReturn::tryServer() {
    pauseMs_ = std::min(pauseMs_ * 2, currentPace.longestPauseMs);
    emit present();
    if (waitsForServer() && !serverPause_.isActive())
        serverPause_.start(pauseMs_);
}

void TDeviceReturn::stop() {
    stopTries();
    path_.clear();
    connectedAt_.invalidate();
    outage_ = false;
}

void TDeviceReturn::stopTries() {
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
