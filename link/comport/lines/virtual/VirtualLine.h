#pragma once

#include "link/comport/ComTypes.h"

#include <QByteArray>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;
class SerialLine;

// A serial line whose far end is a program object: the virtual printer, or a
// test. A TComPort opens it by name when PortMap maps the port to "virtual"
// and the virtual line provider hands this line out (PortMap.h).
//
// The line models time: each byte the port writes takes ten bit times at the
// baud rate the port set, the transmitter is empty when the last byte has
// left, and with the port's OutCTSFlow on, bytes wait while CTS is off and
// are dropped at the port's write time-out, as on a real port. The port's
// Write returns when its bytes have left (or at that time-out).
//
// Far end, in short:
//   auto line = VirtualLine::create();
//   line->setReceiver(printer, [printer](const QByteArray& b) { printer->feed(b); });
//   line->send(reply);          // bytes for the port's input queue
//   line->setCTS(false);        // printer busy
//
// Threads: every public function may be called from any thread; each takes
// the line's lock only briefly. No handler is ever called with the lock held,
// so a handler may call back into the line (send a reply, change CTS), but it
// must not call the TComPort that owns the near end.
class VirtualLine : public std::enable_shared_from_this<VirtualLine> {
public:
    using Clock = std::chrono::steady_clock;
    using ArrivalHandler = std::function<void(const QByteArray& bytes)>;
    using OpenHandler = std::function<void(bool open)>;

    static std::shared_ptr<VirtualLine> create();
    ~VirtualLine();
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // --- What the port transmits ------------------------------------------

    // Tells handler, on context's thread, of the bytes that have arrived at
    // the far end, in order, as they arrive at line speed (in chunks of a few
    // milliseconds of line time). When context lives on the thread that
    // writes (the GUI thread, for TComPort), the handler is called directly
    // from inside the port's Write; while that Write is held by CTS flow
    // control it is also called about every 10 ms with an empty array, so a
    // far end on that thread can let its own time pass and raise CTS again.
    // Otherwise the handler runs as a queued call on context's thread. With
    // no receiver (or a null context) the bytes are collected for
    // takeArrived(). The receiver is dropped when context is destroyed.
    void setReceiver(QObject* context, ArrivalHandler handler);
    // The bytes collected since the last call while no receiver was set.
    QByteArray takeArrived();
    // Called on context's thread (as above) when a port opens or closes the line.
    void setOpenHandler(QObject* context, OpenHandler handler);

    // --- What the port receives -------------------------------------------

    // Puts bytes into the port's input queue at once (a full queue drops the
    // excess and reports an input overflow) and raises the receive events.
    void send(const QByteArray& bytes);

    // --- Modem lines the far end drives (all on at first) -----------------

    void setCTS(bool on);
    void setDSR(bool on);
    void setRLSD(bool on);
    // One ring indication.
    void ring();
    bool cts() const;
    bool dsr() const;
    bool rlsd() const;

    // --- What the port drives ---------------------------------------------

    bool isOpen() const;
    bool dtr() const;
    bool rts() const;
    // The settings the port last applied.
    TDCB dcb() const;
    TCommTimeouts timeouts() const;
    // Line time of one byte: ten bit times at the port's baud rate.
    std::chrono::nanoseconds byteTime() const;

    // --- Line errors and faults -------------------------------------------

    // Reports line errors to the port (ceFrame, ceOverrun, ceRxParity, ...);
    // ceBreak also raises the break event.
    void raiseErrors(TComErrors errors);
    // Makes every later Write (Read) of the port fail with this Windows error
    // code; 0 ends the fault.
    void failWrites(int winError);
    void failReads(int winError);
    // Pulls the plug: the port sees one I/O error event with CTS, DSR and
    // RLSD going off, then its Write and Read fail and opening the line fails
    // until plugIn().
    void unplug();
    void plugIn();
    bool pluggedIn() const;

    // --- Near end -----------------------------------------------------------

    // Opens the port's side of the line (used by TComPort through PortMap).
    // One port at a time: a second open fails with access denied.
    std::unique_ptr<SerialLine> openPort(int& winError);

private:
    VirtualLine() = default;
    friend class VirtualPortEnd;

    // While bytes are on their way, the far end hears of them at least this often.
    static constexpr auto DeliveryStep = std::chrono::milliseconds(5);
    // While flow control holds a write, a far end on the writing thread gets
    // this often a chance to let its own time pass.
    static constexpr auto HeldStep = std::chrono::milliseconds(10);

    struct Target {
        QPointer<QObject> context;
        bool set = false;
    };

    void advanceLocked(Clock::time_point now);
    void beginBlockLocked(const QByteArray& block, Clock::time_point start);
    Clock::time_point nextWriteLookLocked(Clock::time_point now, Clock::time_point deadline,
                                          bool held, bool receiverHere) const;
    void raiseLocked(TComEvents events);
    void deliverArrivals(bool idleTick);
    void notifyOpen(bool open);

    mutable std::mutex mutex_;
    std::condition_variable changed_;

    // Far end state.
    bool cts_ = true, dsr_ = true, rlsd_ = true;
    bool plugged_ = true;
    int writeFault_ = 0, readFault_ = 0;
    Target receiver_;
    ArrivalHandler onArrival_;
    Target openTarget_;
    OpenHandler onOpen_;
    QByteArray arrived_;   // arrived, not yet handed to the far end
    QByteArray collected_; // for takeArrived()

    // Port side state.
    bool open_ = false;
    bool hungUp_ = false;
    bool cancelWait_ = false;
    TDCB dcb_;
    TCommTimeouts timeouts_;
    int inputSize_ = 1024;
    QByteArray input_;
    TComEvents events_;
    TComErrors errors_;
    // The block being transmitted and the line time its next byte starts.
    QByteArray txBlock_;
    int txSent_ = 0;
    bool txBusy_ = false;
    Clock::time_point txCursor_{};
};
