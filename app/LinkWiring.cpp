#include "app/LinkWiring.h"

#include "app/Forms.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "connection/MainWindowParts.h"
#include "link/ComPortAccess.h"
#include "link/LinkDevices.h"
#include "link/PortIOAccess.h"
#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"

#include <QCheckBox>
#include <memory>

namespace {

// A status LED the program switches (bound to no port).
class LedAccess : public IndicatorAccess {
public:
    explicit LedAccess(TComLed& led) : led_(led) {}
    void SetOn(bool on) override { led_.SetState(on ? lsOn : lsOff); }

private:
    TComLed& led_;
};

struct Adapters {
    ComPortAccess comPort;
    PortIOAccess portIO;
    LedAccess busyLed;
    LedAccess sendLed;
    LedAccess faultLed;
};

std::unique_ptr<Adapters> adapters;

} // namespace

void wireLinkDevices() {
    adapters.reset(new Adapters{ComPortAccess(*Form3->ComPort1, [] { Form3->LineLost(); }),
                                PortIOAccess(*MainWindow.PortIO1), LedAccess(*MainWindow.ComLed3),
                                LedAccess(*MainWindow.ComLed4), LedAccess(*MainWindow.ComLed5)});
    LinkDevices.ComPort1 = &adapters->comPort;
    LinkDevices.PortIO1 = &adapters->portIO;
    LinkDevices.ComLed3 = &adapters->busyLed;
    LinkDevices.ComLed4 = &adapters->sendLed;
    LinkDevices.ComLed5 = &adapters->faultLed;
    LinkDevices.VerificaBusyChecked = [] { return Form9->CheckBox1->isChecked(); };
    SetComExceptionHook([](const std::exception& e) { Messages::showException(e); });
}

void unwireLinkDevices() {
    SetComExceptionHook({});
    LinkDevices.ComPort1 = nullptr;
    LinkDevices.PortIO1 = nullptr;
    LinkDevices.ComLed3 = nullptr;
    LinkDevices.ComLed4 = nullptr;
    LinkDevices.ComLed5 = nullptr;
    LinkDevices.VerificaBusyChecked = {};
    adapters.reset();
}
