#pragma once

#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/Primitives.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

// Stand-ins for ComPort1, PortIO1 and the sleep that log, in one list, every
// serial write, byte strobed out of the parallel data register, pause and
// flow-control switch, so a test sees the exact order without waiting.
class FakeLink {
public:
    class SerialPort : public SerialPortAccess {
    public:
        explicit SerialPort(QStringList& log) : log_(log) {}
        int Write(const void* buffer, int count) override {
            const QByteArray bytes(static_cast<const char*>(buffer), count);
            log_ << QStringLiteral("write ") + QString::fromLatin1(bytes.toHex(' '));
            if (throwOnWrite)
                throw std::runtime_error("write failed");
            // The lost-line handler, run while the write waited, has closed the port.
            if (loseOnWrite)
                LinkState.SerialConnected = false;
            if (!replies.isEmpty())
                input += replies.takeFirst();
            return count;
        }
        int Read(void* buffer, int count) override {
            const int n = std::min<int>(count, static_cast<int>(input.size()));
            std::memcpy(buffer, input.constData(), n);
            input.remove(0, n);
            log_ << QStringLiteral("read %1").arg(count);
            return n;
        }
        void ClearInput() override {
            input.clear();
            log_ << QStringLiteral("clear input");
        }
        void SetOutCTSFlow(bool on) override {
            outCtsFlow = on;
            log_ << (on ? QStringLiteral("cts flow on") : QStringLiteral("cts flow off"));
        }

        bool throwOnWrite = false;
        bool loseOnWrite = false;
        bool outCtsFlow = false;
        // What the printer answers, one entry per write, queued at the write.
        QList<QByteArray> replies;
        // Bytes received and not yet read.
        QByteArray input;

    private:
        QStringList& log_;
    };

    class ParallelPort : public PortAccess {
    public:
        explicit ParallelPort(QStringList& log) : log_(log) {}
        uint8_t GetPortByte(uint16_t address) override { return registers_[address]; }
        void SetPortByte(uint16_t address, uint8_t value) override {
            registers_[address] = value;
            if (address == LinkState.LptBasePort)
                log_ << QStringLiteral("byte %1").arg(value, 2, 16, QChar(u'0'));
        }

    private:
        QStringList& log_;
        std::map<uint16_t, uint8_t> registers_;
    };

    FakeLink() : serial(log), parallel(log), savedState_(LinkState), savedDevices_(LinkDevices) {
        LinkState = TLinkState{};
        LinkDevices.ComPort1 = &serial;
        LinkDevices.PortIO1 = &parallel;
        savedSleeper_ =
            LinkSleep::setSleeper([this](int ms) { log << QStringLiteral("sleep %1").arg(ms); });
    }
    ~FakeLink() {
        LinkSleep::setSleeper(savedSleeper_);
        LinkDevices = savedDevices_;
        LinkState = savedState_;
    }
    FakeLink(const FakeLink&) = delete;
    FakeLink& operator=(const FakeLink&) = delete;

    void connectSerial(bool ctsActive = true) {
        LinkState.SerialConnected = true;
        LinkState.CtsActive = ctsActive;
    }
    void connectParallel() { LinkState.ParallelConnected = true; }

    QStringList log;
    SerialPort serial;
    ParallelPort parallel;

private:
    TLinkState savedState_;
    TLinkDevices savedDevices_;
    LinkSleep::Sleeper savedSleeper_;
};
