#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// What the guest programs of scripts/kernel-test share: talking to the host's
// far ends over the console, loading the boot image's modules, and USB
// gadgets made through configfs, so that the host-side drivers users have
// (usblp, cdc_acm) see a real device.
namespace Guest {

// Whether this program runs inside the virtual machine; anywhere else the
// guest tests skip, with this reason (by which ctest reports them skipped).
bool inMachine();
inline constexpr char NotInMachine[] =
    "runs only inside the virtual machine of scripts/kernel-test";

// Prints "@@DO what" for kernel_far_ends: "break", "drop-cts com2|com4",
// "com2-printer", "unplug-ftdi", "plug-ftdi".
void askHost(const char* what);

// Tells the host that these bytes must arrive, after those announced before,
// at LPT1 (port 1, 0x378) or LPT2 (port 2, 0x278); it checks once the machine is off.
void expectLpt(int port, const QByteArray& bytes);
// The same for the printer COM2's far end plays once asked ("com2-printer").
void expectCom2(const QByteArray& bytes);

// insmod /modules/<name>.ko with its arguments; rmmod. Whether it worked.
bool loadModule(const QString& name, const QStringList& arguments = {});
bool unloadModule(const QString& name);

bool writeFile(const QString& path, const QByteArray& text);

// Waits up to ms for a path to exist (present) or to be gone; says how long
// it waited when it gave up.
bool waitFor(const QString& path, bool present, int ms);

// Call from init() and cleanup(): a test function that failed is named with
// how long it ran, so that a failure on a busy machine shows whether a wait
// ran out.
void testStarts();
void testEnds();

// Whether the program spins from now on: the processor time it uses against
// the time that passes. Under load the machine is slower and its own work
// takes longer, so only using most of the time counts.
class CpuWatch {
public:
    // The whole program's time, or only the calling thread's: a thread that
    // unbinds a device is charged with the kernel's work of removing it.
    enum class Scope { Program, ThisThread };
    explicit CpuWatch(Scope scope = Scope::Program);
    // Empty, or how much processor time was used in how long.
    QString spinning() const;

private:
    int clock_;
    double cpu_;
    QElapsedTimer wall_;
};

// One USB device on the kernel's own gadget loopback (dummy_hcd): a printer
// (/dev/usb/lp0 on the host side, /dev/g_printer0 on the gadget side) on
// dummy_udc.0, or an ACM serial port (/dev/ttyACM0, /dev/ttyGS0) on
// dummy_udc.1, so both can exist at once. It starts unplugged; the
// destructor unplugs it and removes it from configfs.
class UsbGadget {
public:
    enum Kind { Printer, Acm };
    explicit UsbGadget(Kind kind, const QByteArray& pnpString = {},
                       const QByteArray& manufacturer = "Korvexa",
                       const QByteArray& product = "Dual USB");
    ~UsbGadget();
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;

    bool made() const { return made_; }
    bool plug();
    bool unplug();

private:
    QString path(const char* relative) const;

    Kind kind_;
    QString dir_;
    bool made_ = false;
};

// The printer's side of the USB printer gadget (/dev/g_printer0): reads what
// the host side sends on a thread of its own, unless told to stop reading,
// and sets the status the host side reads. One that answers replies to the
// status, model and firmware requests as the printer does, with these texts
// after the unused first byte.
inline constexpr char GadgetStatusText[] = "PRONTA 1";
inline constexpr char GadgetModelText[] = "Korvexa Dual USB";
inline constexpr char GadgetFirmwareText[] = "Firmware USB 1.0";

class GadgetPrinter {
public:
    explicit GadgetPrinter(bool answers = false);
    ~GadgetPrinter();
    GadgetPrinter(const GadgetPrinter&) = delete;
    GadgetPrinter& operator=(const GadgetPrinter&) = delete;

    bool opened() const { return fd_ >= 0; }
    void setReading(bool on) { reading_ = on; }
    void setAnswering(bool on) { answers_ = on; }
    // What LPGETSTATUS reads on the host side: the USB printer class's byte.
    bool setStatus(unsigned char status);
    QByteArray received() const;

private:
    void run();
    void answer(const QByteArray& arrived);

    const int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{true};
    std::atomic<bool> answers_;
    mutable std::mutex mutex_;
    QByteArray received_;
    QByteArray unanswered_;
    std::thread thread_;
};

} // namespace Guest
