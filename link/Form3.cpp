#include "link/Form3.h"

#include "link/comport/ComPort.h"

TForm3::TForm3()
    : TFormBase(QStringLiteral("Configuração da Serial"), {457, 425}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form3"));

    // 9600 bit/s, 8 data bits, no parity, one stop bit, no flow control and
    // DTR/RTS off are the component's defaults; the read time-outs and the
    // event set are this window's own.
    ComPort1 = new TComPort(this);
    ComPort1->setObjectName(QStringLiteral("ComPort1"));
    ComPort1->SetPort(QStringLiteral("COM1"));
    ComPort1->Timeouts().SetReadInterval(3000);
    ComPort1->Timeouts().SetReadTotalMultiplier(1000);
    ComPort1->Timeouts().SetReadTotalConstant(3000);
    ComPort1->SetEvents(TComEvents::All().Exclude(evRing));
}
