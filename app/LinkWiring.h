#pragma once

// Plugs the real devices and controls into the link's narrow views
// (LinkDevices): ComPort1 of Form3, PortIO1, the LEDs ComLed3 to ComLed5 of Form1
// and "Verifica Busy" of Form9.
// Also sends exceptions that the serial port's event hand-over catches to the
// exception display. Called once after createForms(); unwireLinkDevices()
// undoes it before the windows go.
void wireLinkDevices();
void unwireLinkDevices();
