#pragma once

// The application-wide reference to each window. They are set once, in
// order, by createForms() at start-up and stay valid until destroyForms().
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;
class TForm10;
class TForm11;
class TForm12;
class TForm13;
class TForm14;
class TForm15;
class TForm16;
class TPortsWindow;

extern TForm1* Form1;
extern TForm2* Form2;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;
extern TForm7* Form7;
extern TForm8* Form8;
extern TForm9* Form9;
extern TForm10* Form10;
extern TForm11* Form11;
extern TForm12* Form12;
extern TForm13* Form13;
extern TForm14* Form14;
extern TForm15* Form15;
extern TForm16* Form16;
// "Portas do sistema", made after the sixteen windows.
extern TPortsWindow* PortsWindow;

// Creates Form1 ... Form16 in that order, all hidden; Form1 is the main
// window. Then binds what needed a later window (the serial LEDs to ComPort1
// of Form3). Called once, after the application object exists.
void createForms();
// Destroys the windows in reverse order (closing the serial port with Form3).
void destroyForms();
