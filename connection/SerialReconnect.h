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

} // namespace SerialReconnect

// Waits for a device path to exist, without a timer while nothing happens:
// the folder it lives in is watched, or, while that folder is gone too (the
// by-id folder goes with the last adapter), the nearest one above it. For a
// network line ("tcp://...", "rfc2217://...") there is nothing to watch:
// present() comes after 1 s, then after pauses doubling up to 30 s.
class TDeviceReturn : public QObject {
    Q_OBJECT
public:
    explicit TDeviceReturn(QObject* parent = nullptr);

    // Watches for path, forgetting what was watched before.
    void watch(const QString& path);
    void stop();
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

    QFileSystemWatcher watcher_;
    QTimer again_;
    QTimer serverPause_;
    QElapsedTimer since_;
    QString path_;
};
