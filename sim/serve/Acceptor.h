#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

// Takes the connections waiting on a listening socket, one call of take()
// each, for as long as it is enabled. Qt's own servers either close
// themselves (QLocalServer) or are woken again at once (QTcpServer) when an
// accept fails for want of descriptors; here the connection waits in the
// backlog while the acceptor rests PauseMs, failed() is told once, and it is
// taken once a descriptor is free.
class Acceptor : public QObject {
    Q_OBJECT
public:
    static constexpr int PauseMs = 100;

    Acceptor(int listener, std::function<void(int descriptor)> take,
             std::function<void(int error)> failed, QObject* parent = nullptr);
    // Disabled, the connections wait in the backlog.
    void setEnabled(bool enabled);

private:
    void acceptWaiting();

    int listener_;
    std::function<void(int)> take_;
    std::function<void(int)> failed_;
    QSocketNotifier notifier_;
    QTimer resume_;
    bool enabled_ = true;
    bool failing_ = false;
};
