#include "link/ComPortAccess.h"

#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"

int ComPortAccess::Write(const void* buffer, int count) {
    return transfer([&] { return port_.Write(buffer, count); });
}

int ComPortAccess::Read(void* buffer, int count) {
    return transfer([&] { return port_.Read(buffer, count); });
}

void ComPortAccess::ClearInput() {
    port_.ClearBuffer(true, false);
}

void ComPortAccess::SetOutCTSFlow(bool on) {
    port_.FlowControl().SetOutCTSFlow(on);
}

int ComPortAccess::transfer(const std::function<int()>& call) {
    try {
        return call();
    } catch (const EComPort& e) {
        // A line that hung up fails every call with the device's I/O error.
        if (!lineLost_ || e.SystemErrorCode() != WinError::IoDevice)
            throw;
        lineLost_();
        throw Messages::AlreadyShown(e.what());
    }
}
