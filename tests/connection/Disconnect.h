#pragma once

#include "app/Forms.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"

#include <QPushButton>

// Leaves both connection dialogs disconnected, as an operator would, without
// the messages a disconnect may show reaching the test's own recorder.
inline void disconnectBoth() {
    Messages::Recorder quiet;
    if (Form3->ComPort1->Connected())
        Form3->BitBtn2->click();
    if (LinkState.ParallelConnected)
        Form9->BitBtn1->click();
}
