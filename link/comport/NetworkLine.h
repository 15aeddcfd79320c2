#pragma once

#include "link/comport/NetworkAddress.h"
#include "link/comport/SerialLine.h"
#include "protocol/Rfc2217Codec.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <bitset>
#include <mutex>
#include <optional>

// A serial line over TCP: raw (the bytes pass unchanged; no modem lines, so
// CTS, DSR and RLSD read on while connected) or to an RFC 2217 device server
// (the settings go to the server's UART and its acknowledgements are
// checked, the modem lines and line errors come from its notifications,
// 0xFF is doubled both ways). Kept apart as the tty line is:
// NetworkLine.cpp (reaching the server, the settings), NetworkTransfer.cpp
// (writes, reads, the purge and taking in what arrives) and
// NetworkEvents.cpp (what the event thread waits for, what the server says).
//
// Whoever needs what the socket holds reads all of it into the line's own
// input queue (the event thread when it wakes, a Read, a query): the server's
// notifications come between the data, so they must be taken apart even
// while nobody reads. A lost connection (closed, reset, or no answer to the
// kernel's keepalive within about 15 s) is a hang-up.
class NetworkLine : public SerialLine, private Rfc2217::Sink {
public:
    // Resolves and connects within 5 s, the event loop running meanwhile
    // (NetworkWait). Why a failure happened is kept in NetworkFailure.
    static std::unique_ptr<SerialLine> open(const QString& url, int& winError,
                                            LineOpening* opening);
    ~NetworkLine() override;

    int SetupComm(int inputSize, int outputSize) override;
    int SetCommState(const TDCB& dcb) override;
    int SetCommTimeouts(const TCommTimeouts& timeouts) override;
    int Write(const char* data, int count, int& written) override;
    int Read(char* data, int count, int& read) override;
    int Purge(bool output, bool input) override;
    int ModemStatus(TComSignals& lines) override;
    int InputWaiting(int& count) override;
    int ClearError(TComErrors& errors, int& inputCount) override;
    int ReadWaiting(char* data, int count, int& read) override;
    TComEvents WaitEvents(TComEvents mask) override;
    // Also ends a wait of the GUI thread for the server: the port is closing.
    void CancelWait() override;

private:
    NetworkLine(int fd, const NetworkAddress& address, const QString& url);
    bool rfc2217() const { return address_.kind == NetworkAddress::Kind::Rfc2217; }

    // NetworkLine.cpp
    int agreeComPortOption(LineOpening* opening);
    int sendSettings(const TDCB& dcb, bool& awaited);
    int awaitAnswers();
    int refusedSetting();

    // NetworkTransfer.cpp
    void takeIn();
    // takeIn() for a wait of the GUI thread, which the arrival signal woke.
    void takeInAwaited();
    void appendInputLocked(const char* bytes, int count);
    int takeInput(char* data, int count);
    void sendControl(const QByteArray& bytes);
    int sendOwedLocked(std::chrono::steady_clock::time_point deadline);
    int pushOut(const QByteArray& wire, std::chrono::steady_clock::time_point deadline, int& sent);
    int drain(std::chrono::steady_clock::time_point deadline);
    int failed(int err);
    void hangUpLocked();
    void wake();
    void tellArrival();

    // NetworkEvents.cpp: the server's telnet, under stateMutex_.
    void data(const char* bytes, int count) override;
    void negotiation(Rfc2217::Command verb, uint8_t option) override;
    void comPort(uint8_t code, const QByteArray& value) override;
    void modemStateLocked(uint8_t state);
    void lineStateLocked(uint8_t state);
    void waitForActivity();

    const int fd_;
    // The event thread's wake-up, its epoll set (the wake-up and the socket,
    // edge-triggered), and the GUI thread's: something arrived, or the port
    // is closing.
    const int wakeFd_;
    const int pollFd_;
    const int arrivedFd_;
    const NetworkAddress address_;
    const QString url_;

    std::atomic<bool> hungUp_{false};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> txEmptyDue_{false};
    std::atomic<int> inputSize_{1024};
    TCommTimeouts timeouts_;
    bool socketUnwatched_ = false; // the event thread's own

    // What the settings last sent were; GUI thread only.
    std::optional<TDCB> sent_;

    std::mutex sendMutex_; // one sender on the socket at a time
    std::mutex stateMutex_;
    Rfc2217::Decoder decoder_{*this};
    QByteArray input_;
    // Telnet bytes still to go before anything else: answers to the server's
    // negotiation, or the second half of a doubled 0xFF a write could not
    // finish.
    QByteArray owed_;
    TComEvents pending_;
    TComErrors errors_;
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
};
