#pragma once

#include <QObject>

class QSocketNotifier;

// The desktop session's signals: SIGTERM (a logout, kill), SIGINT (Ctrl+C)
// and SIGHUP (the terminal closed) end the program as "Sair" does, so the
// port is closed and its lock file removed, and the program exits with 0.
// A running file send is cancelled first: the session will not wait for it.
// The handler itself only writes a byte to a pipe that the event loop
// watches; everything else runs there. One instance at a time; the default
// handlers come back when it goes.
class EndSignals : public QObject {
    Q_OBJECT
public:
    explicit EndSignals(QObject* parent = nullptr);
    ~EndSignals() override;

private:
    void received();

    QSocketNotifier* notifier_ = nullptr;
};
