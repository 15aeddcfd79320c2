#pragma once

#include <cstdint>
#include <functional>

// The narrow views the link primitives and the command procedures have of the
// devices and controls they drive. The windows plug the real ones in
// (ComPort1 of Form3, PortIO1, ComLed3 to ComLed5, the "Verifica Busy" check box
// of Form9); tests plug in recorders.

// ComPort1, as the senders use it.
class SerialPortAccess {
public:
    virtual ~SerialPortAccess() = default;
    // Writes count bytes; returns when they have left or the write time-out
    // expired, with the number written. Raises the port's exception on failure.
    virtual int Write(const void* buffer, int count) = 0;
    // Reads up to count bytes within the read time-outs; returns the number read.
    virtual int Read(void* buffer, int count) = 0;
    // Discards whatever is waiting in the input queue.
    virtual void ClearInput() = 0;
    // FlowControl.OutCTSFlow of the port.
    virtual void SetOutCTSFlow(bool on) = 0;
};

// PortIO1, as the parallel primitives use it.
class PortAccess {
public:
    virtual ~PortAccess() = default;
    virtual uint8_t GetPortByte(uint16_t address) = 0;
    virtual void SetPortByte(uint16_t address, uint8_t value) = 0;
};

// A status LED set by the program (ComLed3, ComLed4, ComLed5).
class IndicatorAccess {
public:
    virtual ~IndicatorAccess() = default;
    virtual void SetOn(bool on) = 0;
};

struct TLinkDevices {
    SerialPortAccess* ComPort1 = nullptr;
    PortAccess* PortIO1 = nullptr;
    IndicatorAccess* ComLed3 = nullptr;
    IndicatorAccess* ComLed5 = nullptr;
    // Whether "Verifica Busy" of the parallel dialog is checked.
    std::function<bool()> VerificaBusyChecked;
    // The file send's LED.
    IndicatorAccess* ComLed4 = nullptr;
};

// Set once at start-up by main(), or by a test.
extern TLinkDevices LinkDevices;
