#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>

class ParallelPortBackend;

// One operation of PortControl: a write sends Value to Port, a read stores
// the byte read from Port into Value.
struct TPortControlRec {
    uint16_t Port = 0;
    uint8_t Value = 0;
    bool Write = false;
};

enum class TPortWidth : uint8_t { Byte = 1, Word = 2, DWord = 4 };

// One operation of PortCommand. Wider accesses reach consecutive byte
// ports, lowest byte at Port, as an 8-bit device sees a wide port access.
struct TPortCommandRec {
    uint16_t Port = 0;
    uint32_t Value = 0;
    TPortWidth Width = TPortWidth::Byte;
    bool Write = false;
};

// Byte-wide access to the legacy parallel port addresses: 0x378-0x37A reach
// LPT1's device, 0x278-0x27A LPT2's (data, status, control register), as
// LptMap names them. OpenDriver opens and claims only the port BasePort
// names, so the other stays free for other programs. No operation raises; a
// device that goes away while open (a USB cable pulled out) is reported once
// by deviceLost. Used on the GUI thread only.
class TPortIO : public QObject {
    Q_OBJECT

public:
    static constexpr uint16_t Lpt1Base = 0x378;
    static constexpr uint16_t Lpt2Base = 0x278;
    // There is no Windows service manager here, so the NT driver steps never run.
    static constexpr bool RunningWinNT = false;
    // What every register of a lost device reads: all lines low, a printer
    // busy and in fault, so nothing reads as ready.
    static constexpr uint8_t LostPortByte = 0x00;

    explicit TPortIO(QObject* parent = nullptr);
    // Closes the driver if it is open.
    ~TPortIO() override;

    // Where the Windows port library and its kernel driver would be found;
    // the parallel dialog sets DriverPath before each connect. ppdev needs
    // neither, so they do not change what OpenDriver does.
    QString DriverPath;
    QString DLLPath;
    // The port OpenDriver opens: Lpt1Base or Lpt2Base.
    uint16_t BasePort = Lpt1Base;

    // True while the port is open.
    bool ActiveHW() const { return port_ != nullptr; }
    // What the last OpenDriver could not open and why
    // ("open /dev/parport1: No such file or directory").
    QString LastError() const { return lastError_; }
    // Whether the open port's device has gone; it then reads LostPortByte
    // and takes no writes until CloseDriver.
    bool Lost() const { return lost_; }

    // Opens and claims BasePort's device; does nothing when already active.
    void OpenDriver();
    // Releases and closes the port; false when the component was not active.
    bool CloseDriver();

    // An address whose port is not open reads 0xFF and ignores writes, as a
    // missing ISA port does.
    uint8_t GetPortByte(uint16_t address);
    void SetPortByte(uint16_t address, uint8_t value);
    void PortControl(std::span<TPortControlRec> operations);
    void PortCommand(std::span<TPortCommandRec> operations);

signals:
    // The open port's device has gone; emitted once per OpenDriver, from
    // inside the access that found it out.
    void deviceLost();

private:
    // The open port serving address, with the register offset in *offset.
    ParallelPortBackend* portFor(uint16_t address, uint16_t* offset) const;
    void noteLoss();

    std::shared_ptr<ParallelPortBackend> port_;
    uint16_t openBase_ = Lpt1Base;
    bool lost_ = false;
    QString lastError_;
};
