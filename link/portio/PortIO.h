#pragma once

#include <QObject>
#include <QString>
#include <array>
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

// Byte-wide access to the legacy parallel port addresses. The two bases map
// to devices named in LptMap: 0x378-0x37A to LPT1's, 0x278-0x27A to LPT2's
// (data, status, control register). OpenDriver opens and claims every one
// it can; no operation raises. Used on the GUI thread only.
class TPortIO : public QObject {
    Q_OBJECT

public:
    static constexpr uint16_t Lpt1Base = 0x378;
    static constexpr uint16_t Lpt2Base = 0x278;
    // There is no Windows service manager here, so the NT driver steps never run.
    static constexpr bool RunningWinNT = false;

    explicit TPortIO(QObject* parent = nullptr);
    // Closes the driver if it is open.
    ~TPortIO() override;

    // Where the Windows port library and its kernel driver would be found;
    // the parallel dialog sets DriverPath before each connect. ppdev needs
    // neither, so they do not change what OpenDriver does.
    QString DriverPath;
    QString DLLPath;

    // True while at least one of the two ports is open.
    bool ActiveHW() const { return active_; }
    // What the last OpenDriver could not open and why, one "; "-separated
    // entry per port ("open /dev/parport1: No such file or directory").
    QString LastError() const { return lastError_; }

    // Opens both ports; does nothing when already active.
    void OpenDriver();
    // Releases and closes the ports; false when the component was not active.
    bool CloseDriver();

    // An address whose port is not open reads 0xFF and ignores writes, as a
    // missing ISA port does.
    uint8_t GetPortByte(uint16_t address);
    void SetPortByte(uint16_t address, uint8_t value);
    void PortControl(std::span<TPortControlRec> operations);
    void PortCommand(std::span<TPortCommandRec> operations);

    // Whether the port that address belongs to was opened, so a caller can
    // tell the operator that the port it picked is missing.
    bool HasPort(uint16_t address) const;

private:
    struct Slot {
        uint16_t base;
        const char* name;
        std::shared_ptr<ParallelPortBackend> port;
    };
    // The open port serving address, with the register offset in *offset.
    ParallelPortBackend* portFor(uint16_t address, uint16_t* offset) const;

    std::array<Slot, 2> slots_{{{Lpt1Base, "LPT1", nullptr}, {Lpt2Base, "LPT2", nullptr}}};
    bool active_ = false;
    QString lastError_;
};
