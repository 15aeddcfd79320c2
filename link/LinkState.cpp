#include "link/LinkState.h"

#include "link/LinkDevices.h"

TLinkState LinkState;
TLinkDevices LinkDevices;
