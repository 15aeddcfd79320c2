#pragma once

#include <QMainWindow>

#include <functional>

class ClickableImage;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TComLed;
class TPortIO;

// The main window: the loaded file's text, name and size, the send, status,
// reset and exit buttons, the link LEDs, and the menu that reaches every
// other window. Its own dialogs (About, "Abrir Arquivo") say what the operator
// did, and it shows that; the connection dialogs switch its parts through
// connection/MainWindowParts.h, which start-up fills in.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1();
    ~TForm1() override;

    // The client area below the menu bar.
    QWidget* ClientArea;

    QFrame* Panel1;
    QLabel* Image2;
    QLabel* StaticText1;
    QPlainTextEdit* RichEdit1;
    QProgressBar* ProgressBar1;
    QLabel* StaticText6;
    QLabel* StaticText7;
    QLabel* StaticText2;
    QLabel* StaticText3;
    QPushButton* BitBtn3;
    QPushButton* BitBtn2;
    QPushButton* BitBtn4;
    QPushButton* BitBtn1;
    TComLed* ComLed1;
    TComLed* ComLed2;
    TComLed* ComLed3;
    TComLed* ComLed4;
    TComLed* ComLed5;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    ClickableImage* Image1;
    QTimer* Timer1;
    TPortIO* PortIO1;

    QMenuBar* MainMenu1;
    QMenu* Arquivo1;
    QAction* Abrir1;
    QAction* Sair1;
    QMenu* Programar1;
    QAction* Enviar1;
    QAction* Paralela1;
    QAction* Serial1;
    QAction* ProgramaImpresso1;
    QAction* Autenticao1;
    QAction* Autenticao2;
    QAction* Gaveta1;
    QAction* Reset1;
    QAction* Pagina1;
    QAction* ProgramarBitmap1;
    QAction* ImprimeBitmap1;
    QAction* N4048Caracteres1;
    QAction* SensorPapel1;
    QAction* AvancodeLinhas1;
    QAction* Teclado1;
    QAction* N1;
    QAction* ImpressoraVirtual1; // present only while a virtual printer is attached
    QAction* PortasdoSistema1;
    QMenu* Sobre1;
    QAction* Autor1;
    QAction* Impressora1;
    QAction* Firmware1;

public slots:
    void FormCreate();
    void Abrir1Click();
    void Sair1Click();
    void Paralela1Click();
    void Serial1Click();
    void ProgramaImpresso1Click();
    void Autenticao1Click();
    void Autenticao2Click();
    void Pagina1Click();
    void ProgramarBitmap1Click();
    void ImprimeBitmap1Click();
    void N4048Caracteres1Click();
    void SensorPapel1Click();
    void AvancodeLinhas1Click();
    void Teclado1Click();
    void Autor1Click();
    void Reset1Click();
    void BitBtn4Click();
    void Gaveta1Click();
    void N1Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void Enviar1Click();
    void Impressora1Click();
    void Firmware1Click();
    void Image1Click();
    void Image1DblClick();
    void ImpressoraVirtual1Click();
    void PortasdoSistema1Click();

public:
    // A virtual printer is attached: "Impressora virtual" appears and shows
    // its window through show.
    void attachVirtualPrinter(std::function<void()> show);
    // Listens to About and "Abrir Arquivo", which are made after this window.
    void connectDialogs();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void applyLook();
    void createControls();
    void createFileControls();
    void createButtonsAndLeds();
    void createProgramarMenu();
    void createMenu();
    void wireHandlers();
    void runSendCommand(const QString& noInterfaceText);
    void showLoadedFile(const QString& name);

    std::function<void()> showVirtualPrinter_;
};
