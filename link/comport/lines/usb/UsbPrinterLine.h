#pragma once

#include "link/comport/lines/descriptor/DescriptorLine.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <sys/types.h>

// A USB printer (the usblp driver's /dev/usb/lpN) as a serial line both ways.
// Bytes go to the printer as the parallel side hands them over: the node is
// non-blocking, a printer still busy with the last block takes nothing more
// (EAGAIN), and a write counts exactly what the driver took. The printer's
// replies are read from the node into the line's own input queue, which
// gives the component its count of waiting bytes.
//
// There are no line settings and no modem lines. CTS reads on while the
// printer is selected, with paper and no error, as its status says; the
// event thread reads that status every 400 ms while the line is open, and
// reports a change as a tty reports its lines. DSR and RLSD read on while the
// printer is there. A printer that is not ready takes nothing, so CTS flow
// control needs nothing more here. A printer unplugged is the line's hang-up.
class UsbPrinterLine : public DescriptorLine {
public:
    // Whether the device at path is a USB printer's node.
    static bool isUsbPrinter(const QString& path);
    // Opens the node (usblp lets one program have it at a time: another
    // opener is refused as access denied) and reads the status once, on a
    // thread of its own with the event loop running; a close cancels it.
    static std::unique_ptr<SerialLine> open(const QString& device, int& winError,
                                            LineOpening* opening = nullptr);
    ~UsbPrinterLine() override;

    int SetCommState(const TDCB& dcb) override;
    int Write(const char* data, int count, int& written) override;
    int Purge(bool output, bool input) override;
    int ModemStatus(TComSignals& lines) override;
    int InputWaiting(int& count) override;

private:
    struct Descriptors {
        int node = -1;
        int wake = -1;    // eventfd: a cancel or a finished write for the event thread
        int arrived = -1; // eventfd: the event thread queued input a read waits for
        int tick = -1;    // timerfd: the next status read
        int poll = -1;    // the event thread's epoll set
    };
    UsbPrinterLine(const Descriptors& fds, int status, const QString& device, dev_t rdev);
    bool unplugged(int err) const;

    // Moves what the node has into the input queue, up to its limit; the
    // bytes moved, or -1 with errno set. Caller holds inputMutex_.
    int pullLocked();
    // Takes up to count queued bytes (pulling first); an errno on failure.
    int take(char* data, int count, int& got);
    int takeArrived(char* data, int count, int& got) override;
    int awaitInput(int ms) override;
    int takeWaiting(char* data, int count, int& read) override;
    // The event thread's: what woke it, kept in pending_.
    void waitForActivity() override;
    void readStatus();
    void readInput();

    const Descriptors fds_;
    // The node, to tell an unplugged printer from one that failed a request.
    const QByteArray path_;
    const dev_t rdev_;
    std::atomic<bool> cts_;

    std::mutex inputMutex_;
    QByteArray input_;
};
