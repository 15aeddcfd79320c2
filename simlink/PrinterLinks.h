#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class PrinterClock;
class VirtualLine;
class VirtualParallelPort;
class VirtualPrinter;

// Attaches the virtual printer to the far ends of virtual serial lines and
// virtual parallel ports: every byte they deliver goes to the printer, its
// replies go back on the line that asked, and its readiness drives CTS on the
// lines and the busy and error lines of the ports. One printer serves every
// port name; the program opens one of them at a time.
//
// Runs on the GUI thread, the thread the program's TComPort and TPortIO are
// driven from, so bytes arrive synchronously inside their writes.
class PrinterLinks : public QObject {
    Q_OBJECT
public:
    // clock may be null: then only the caller moves the printer's time.
    explicit PrinterLinks(VirtualPrinter* printer, PrinterClock* clock = nullptr,
                          QObject* parent = nullptr);
    ~PrinterLinks() override;

    // The line for a port name ("COM2"), made on first use.
    std::shared_ptr<VirtualLine> serialLine(const QString& portName);
    // The port for a parallel port name ("LPT1"), made on first use.
    std::shared_ptr<VirtualParallelPort> parallelPort(const QString& lptName);

    // Makes this the provider for every port name PortMap or LptMap maps to
    // "virtual", until destroyed (the previous providers are then restored).
    void installProviders();

private:
    void arrived(const std::weak_ptr<VirtualLine>& line, const QByteArray& bytes);
    void strobed(uint8_t byte);
    void reply(const QByteArray& bytes);
    void followPrinter();

    VirtualPrinter* printer_;
    PrinterClock* clock_;
    QMap<QString, std::shared_ptr<VirtualLine>> lines_;
    QMap<QString, std::shared_ptr<VirtualParallelPort>> ports_;
    std::weak_ptr<VirtualLine> asking_; // the line whose bytes the printer last took
    bool providersInstalled_ = false;
    std::function<std::shared_ptr<VirtualLine>(const QString&)> previousLineProvider_;
    std::function<std::shared_ptr<VirtualParallelPort>(const QString&)> previousPortProvider_;
};
