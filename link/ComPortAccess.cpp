#include "link/ComPortAccess.h"

#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"

// A network line is reached with the window live, so a command may be pressed
// while the port is still being opened: it is told to wait rather than
// failing on a port that is not open yet.
void ComPortAccess::refuseWhileOpening() {
    if (!port_.Opening())
        return;
    Messages::plainMessage(OpeningText);
    throw Messages::AlreadyShown(OpeningText.toStdString());
}

int ComPortAccess::Write(const void* buffer, int count) {
    refuseWhileOpening();
    return transfer([&] { return port_.Write(buffer, count); });
}

int ComPortAccess::Read(void* buffer, int count) {
    refuseWhileOpening();
    return transfer([&] { return port_.Read(buffer, count); });
}

void ComPortAccess::ClearInput() {
    refuseWhileOpening();
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
