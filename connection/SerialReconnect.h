#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

// Coming back after an unplug: once a serial connection has ended because its
// device went away, the serial dialog waits for the same device path (a
// /dev/serial/by-id/... link or the node itself) to appear again and connects
// once more; a network line's server is tried again after growing pauses.
// The operator turns it off in "Portas do sistema".
namespace SerialReconnect {

// On unless the operator turned it off; remembered between runs.
bool enabled();
void setEnabled(bool on);

// How a network line's server is tried again. Tests shorten the times.
struct Pace {
    int firstPauseMs = 1000;
    int longestPauseMs = 30000;
    // A connection lost sooner than this after it was made leaves the outage
    // going on: a device server rebooting, or a ser2net restarted in a loop,
    // accepts and closes at once, and each of those is no news to the operator.
    int shortLivedMs = 10000;
};
Pace pace();
void setPace(const Pace& pace);

} // namespace SerialReconnect

// Waits for a device path to exist, without a timer while nothing happens:
// the folder it lives in is watched, or, while that folder is gone too (the
// by-id folder goes with the last adapter), the nearest one above it. For a
// network line ("tcp://...", "rfc2217://...") there is nothing to watch:
// present() comes after 1 s, then after pauses doubling up to 30 s; a
// connection made meanwhile that is soon lost again is the same outage, and
// the pauses go on growing from where they were.
class TDeviceReturn : public QObject {
    Q_OBJECT
public:
    explicit TDeviceReturn(QObject* parent = nullptr);

    // Watches for path, forgetting what was watched before. False when this
    // only goes on with an outage of the same server: the connection made
    // since the last watch() was lost again before it lived long enough.
    bool watch(const QString& path);
    // The server has answered: no more tries, but the outage is kept until
    // the connection has lived long enough.
    void connected();
    // Ends the wait and the outage: the operator's own choice.
    void stop();
    // Trying a network line's server again.
    bool waitsForServer() const;
    QString path() const { return path_; }

signals:
    // The path exists. Given again every quarter second for a few seconds,
    // until stop(): the kernel makes a node before udev gives it its group,
    // and a modem manager may probe a new port first. For a network line:
    // time to try its server again.
    void present();

private:
    void folderChanged();
    void lookAgain();
    void tryServer();
    void stopTries();

    QFileSystemWatcher watcher_;
    QTimer again_;
    QTimer serverPause_;
    QElapsedTimer since_;
    QElapsedTimer connectedAt_;
    QString path_;
    int pauseMs_ = 0;
    bool outage_ = false;
};
