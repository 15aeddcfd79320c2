#include "app/Forms.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form4.h"
#include "app/Form5.h"
#include "bitmap/Form10.h"
#include "bitmap/Form13.h"
#include "commands/Form11.h"
#include "commands/Form12.h"
#include "commands/Form14.h"
#include "commands/Form15.h"
#include "commands/Form16.h"
#include "commands/Form6.h"
#include "commands/Form7.h"
#include "commands/Form8.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "connection/MainWindowParts.h"
#include "connection/PortsWindow.h"
#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
TForm7* Form7 = nullptr;
TForm8* Form8 = nullptr;
TForm9* Form9 = nullptr;
TForm10* Form10 = nullptr;
TForm11* Form11 = nullptr;
TForm12* Form12 = nullptr;
TForm13* Form13 = nullptr;
TForm14* Form14 = nullptr;
TForm15* Form15 = nullptr;
TForm16* Form16 = nullptr;
TPortsWindow* PortsWindow = nullptr;

void createForms() {
    // The pictures live in a static library; register them before any window
    // asks for one.
    Q_INIT_RESOURCE(pictures);

    Form1 = new TForm1;
    MainWindow = {Form1,          Form1->Serial1, Form1->Paralela1, Form1->ComLed1,
                  Form1->ComLed2, Form1->ComLed3, Form1->ComLed4,   Form1->ComLed5,
                  Form1->Label1,  Form1->Label3,  Form1->Timer1,    Form1->PortIO1};
    Form2 = new TForm2;
    Form3 = new TForm3;
    Form4 = new TForm4;
    Form5 = new TForm5;
    Form6 = new TForm6;
    Form7 = new TForm7;
    Form8 = new TForm8;
    Form9 = new TForm9;
    Form10 = new TForm10;
    Form11 = new TForm11;
    Form12 = new TForm12;
    Form13 = new TForm13;
    Form14 = new TForm14;
    Form15 = new TForm15;
    Form16 = new TForm16;
    PortsWindow = new TPortsWindow;
    Form1->connectDialogs();

    // The serial LEDs could not be bound while Form1 was being made: ComPort1
    // comes with Form3.
    Form1->ComLed1->SetComPort(Form3->ComPort1);
    Form1->ComLed2->SetComPort(Form3->ComPort1);

    Form1->show();
}

void destroyForms() {
    // Unbind the LEDs first: closing the port at Form3's end reports the lines
    // off to whatever is still bound to it.
    if (Form1) {
        Form1->ComLed1->SetComPort(nullptr);
        Form1->ComLed2->SetComPort(nullptr);
    }
    delete PortsWindow;
    PortsWindow = nullptr;
    delete Form16;
    delete Form15;
    delete Form14;
    delete Form13;
    delete Form12;
    delete Form11;
    delete Form10;
    delete Form9;
    delete Form8;
    delete Form7;
    delete Form6;
    delete Form5;
    delete Form4;
    delete Form3;
    delete Form2;
    delete Form1;
    MainWindow = {};
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form5 = nullptr;
    Form6 = nullptr;
    Form7 = nullptr;
    Form8 = nullptr;
    Form9 = nullptr;
    Form10 = nullptr;
    Form11 = nullptr;
    Form12 = nullptr;
    Form13 = nullptr;
    Form14 = nullptr;
    Form15 = nullptr;
    Form16 = nullptr;
}
