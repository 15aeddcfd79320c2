#include "link/LinkState.h"

#include "link/LinkDevices.h"
#include "link/MainWindowParts.h"

TLinkState LinkState;
TLinkDevices LinkDevices;
TMainWindowParts MainWindow;
