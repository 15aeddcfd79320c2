#pragma once

#include "link/comport/lines/descriptor/DescriptorLine.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "protocol/Rfc2217Codec.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <bitset>
#include <chrono>
#include <mutex>
#include <optional>

// A serial line over TCP: raw (the bytes pass unchanged; no modem lines, so
// CTS, DSR and RLSD read on while connected) or to an RFC 2217 device server
// (the settings go to the server's UART and its acknowledgements are
// checked, the modem lines and line errors come from its notifications,
// 0xFF is doubled both ways). Kept apart as the tty line is:
// NetworkLine.cpp (reaching the server, the settings), NetworkLine_transfer.cpp
// (writes, reads, the purge and taking in what arrives) and
// NetworkLine_events.cpp (what the event thread waits for, what the server says).
//
// Whoever needs what the socket holds reads it into the line's own input
// queue (the event thread when it wakes, a Read, a query), a bounded amount
// at a time: the server's notifications come between the data, so they must
// be taken apart even while nobody reads.
//
// CTS says whether the printer takes bytes: it goes off while what was
// written stays unacknowledged (the printer's TCP window closed), while a
// device server has asked to suspend (FLOWCONTROL-SUSPEND) and, on
// rfc2217://, while the server's own CTS is off. A printer that answers
// the kernel's window probes is busy for as long as it likes; the line is
// lost only when nothing at all is acknowledged for about 15 s, or on a
// close or reset (NetworkLine_watch.cpp). A server that makes the line owe it
// more than it reads is dropped as misbehaving.
class NetworkLine : public DescriptorLine, private Rfc2217::Sink {
public:
    // Resolves and connects within 5 s, the event loop running meanwhile
    // (EventLoopWait). Why a failure happened is kept in NetworkFailure.
    static std::unique_ptr<SerialLine> open(const QString& url, int& winError,
                                            LineOpening* opening);
    ~NetworkLine() override;

    int SetCommState(const TDCB& dcb) override;
    int Write(const char* data, int count, int& written) override;
    int Purge(bool output, bool input) override;
    int ModemStatus(TComSignals& lines) override;
    int InputWaiting(int& count) override;
    // Also ends a wait of the GUI thread for the server: the port is closing.
    void CancelWait() override;

private:
    NetworkLine(int fd, const NetworkAddress& address, const QString& url);
    bool rfc2217() const { return address_.kind == NetworkAddress::Kind::Rfc2217; }

    // NetworkLine.cpp
    int agreeComPortOption(std::chrono::steady_clock::time_point deadline, LineOpening* opening);
    NetworkFailure refusalOrSilence();
    int hungUpOpening();
    int sendSettings(const TDCB& dcb, bool& awaited);
    int awaitAnswers();
    int refusedSetting();

    // NetworkLine_transfer.cpp
    // Returns false when it stopped with bytes still in the socket.
    bool takeIn();
    // takeIn() for a wait of the GUI thread, which the arrival signal woke.
    void takeInAwaited();
    int writeWithin(const QByteArray& wire, const char* data, int count,
                    std::chrono::steady_clock::time_point deadline, int& written);
    bool pushSome(const QByteArray& wire, const char* data, int& sent, int& written, int& err);
    bool owedLocked(qsizetype more);
    void dropMisbehavingLocked();
    void appendInputLocked(const char* bytes, int count);
    int takeInput(char* data, int count);
    int takeArrived(char* data, int count, int& got) override;
    int awaitInput(int ms) override;
    int takeWaiting(char* data, int count, int& read) override;
    void sendControl(const QByteArray& bytes);
    int sendOwedLocked(std::chrono::steady_clock::time_point deadline);
    int pushOut(const char* bytes, int size, std::chrono::steady_clock::time_point deadline,
                int& sent);
    int drain(std::chrono::steady_clock::time_point deadline, bool& delivered);
    int queued() const;
    // A connection that has ended hangs the line up; any other failure is
    // only the call's.
    int socketFailed(int err);
    void tellArrival();

    // NetworkLine_events.cpp: the server's telnet, under stateMutex_.
    void data(const char* bytes, int count) override;
    void negotiation(Rfc2217::Command verb, uint8_t option) override;
    void comPort(uint8_t code, const QByteArray& value) override;
    void modemStateLocked(uint8_t state);
    void lineStateLocked(uint8_t state);
    bool ctsLocked() const;
    void setCtsCauseLocked(bool& cause, bool on);
    void look() override;
    void waitForActivity() override;

    // NetworkLine_watch.cpp: the event thread's look at what is unacknowledged,
    // under stateMutex_ but watchSending.
    void watchSending();
    bool noAnswerFor(std::chrono::steady_clock::time_point now);
    void armWatch(std::chrono::steady_clock::duration after);

    // The event thread's timer while bytes are unacknowledged, and the GUI
    // thread's while a write waits for them.
    // The GUI thread's wake-up: something arrived, or the port is closing.
    const int arrivedFd_;
    const int watchFd_;
    const int drainFd_;
    const NetworkAddress address_;
    const QString url_;

    std::atomic<bool> closing_{false};
    // A write waiting with the event loop running: a write started by a
    // handler meanwhile takes nothing, so the two never interleave.
    bool writing_ = false;
    // Every byte handed to the kernel: with the socket's queue, what the
    // printer has acknowledged.
    std::atomic<uint64_t> handedOver_{0};
    // The event thread's own: the acknowledged count last seen, since when
    // it has not grown, how often it looks, and since when the peer has
    // answered nothing it was asked.
    uint64_t acked_ = 0;
    std::chrono::steady_clock::time_point progressAt_{};
    std::chrono::steady_clock::duration watchStep_{};
    std::optional<std::chrono::steady_clock::time_point> silentSince_;
    bool moreToTake_ = false;

    // What the settings last sent were; GUI thread only.
    std::optional<TDCB> sent_;

    std::mutex sendMutex_;    // one sender on the socket at a time
    std::mutex receiveMutex_; // one taker, so that pieces are decoded in order
    Rfc2217::Decoder decoder_{*this};
    QByteArray input_;
    // Telnet bytes still to go before anything else: answers to the server's
    // negotiation, or the second half of a doubled 0xFF a write could not
    // finish.
    QByteArray owed_;
    std::bitset<256> weWill_, theyWill_;
    bool comPortAgreed_ = false, comPortRefused_ = false;
    // The server's answers to the four line settings, by code.
    std::optional<uint32_t> answers_[5];
    uint32_t asked_[5] = {};
    bool awaiting_[5] = {};
    // The modem lines: on until the server says otherwise, as on a line
    // without them; changes are events once the port's opening is over.
    uint8_t modem_ = Rfc2217::Modem::Cd | Rfc2217::Modem::Dsr | Rfc2217::Modem::Cts;
    bool modemHeard_ = false;
    bool reportModem_ = false;
    // What holds CTS off besides the server's line.
    bool busy_ = false, suspended_ = false;
    // The options refused once: asked again, they are not answered again.
    std::bitset<256> refusedWill_, refusedDo_;
};
