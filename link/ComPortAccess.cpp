#include "link/ComPortAccess.h"

#include "link/comport/ComPort.h"

int ComPortAccess::Write(const void* buffer, int count) {
    return port_.Write(buffer, count);
}

int ComPortAccess::Read(void* buffer, int count) {
    return port_.Read(buffer, count);
}

void ComPortAccess::ClearInput() {
    port_.ClearBuffer(true, false);
}

void ComPortAccess::SetOutCTSFlow(bool on) {
    port_.FlowControl().SetOutCTSFlow(on);
}
