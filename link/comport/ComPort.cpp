// The component's own record: its exception and where the exceptions of its
// event handlers go, the port's life as an object, and the links controls
// subscribe with. What the port does is in files of their own:
// ComPort_settings.cpp (the line settings and applying them),
// ComPort_openclose.cpp (opening and closing), ComPort_io.cpp (the transfers
// and line queries) and ComPort_events.cpp (the event thread and the
// hand-over of its events to the GUI thread).
#include "link/comport/ComPort.h"

#include "link/comport/ComPortReport.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {
const char* const codeTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
};
static_assert(std::size(codeTexts) == EComPort::RxBufLinked);
// The codes are the table's, which programs and logs know by number.
static_assert(EComPort::RxBufLinked == 22);

QString messageFor(int errorCode, int systemErrorCode) {
    QString text = EComPort::CodeText(errorCode);
    if (systemErrorCode != -1)
        text += QStringLiteral(" (win error code: %1)").arg(systemErrorCode);
    return text;
}

std::mutex hookMutex;
TComExceptionHook& exceptionHook() {
    static TComExceptionHook hook;
    return hook;
}

void reportException(const std::exception& e) {
    TComExceptionHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = exceptionHook();
    }
    try {
        if (hook) {
            hook(e);
            return;
        }
    } catch (...) {
        // A failing display must not take the event thread down with it.
    }
    std::fprintf(stderr, "%s\n", e.what());
}

} // namespace

void reportCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        reportException(e);
    } catch (...) {
        reportException(std::runtime_error("Unknown exception"));
    }
}

EComPort::EComPort(int errorCode, int systemErrorCode)
    : std::runtime_error(messageFor(errorCode, systemErrorCode).toStdString()),
      errorCode_(errorCode), systemErrorCode_(systemErrorCode) {}

QString EComPort::Message() const {
    return QString::fromUtf8(what());
}

QString EComPort::CodeText(int errorCode) {
    if (errorCode < 1 || errorCode > int(std::size(codeTexts)))
        return {};
    return QString::fromLatin1(codeTexts[errorCode - 1]);
}

TComExceptionHook SetComExceptionHook(TComExceptionHook hook) {
    std::lock_guard lock(hookMutex);
    return std::exchange(exceptionHook(), std::move(hook));
}

TCustomComPort::TCustomComPort(QObject* parent)
    : QObject(parent), handOver_(std::make_shared<HandOver>()) {}

TCustomComPort::~TCustomComPort() {
    try {
        Close();
    } catch (...) {
        reportCurrentException();
    }
}

QString TCustomComPort::NormalisePortName(const QString& name) {
    const QString head = name.left(3).toUpper();
    const QString number = head == QLatin1String("COM") ? name.mid(3) : name;
    bool ok = false;
    int n = number.toInt(&ok, 10);
    if (!ok || n < 1 || n > 96)
        n = 1;
    return QStringLiteral("COM%1").arg(n);
}

void TCustomComPort::RegisterLink(TComLink* Link) {
    if (!Link || std::find(links_.begin(), links_.end(), Link) != links_.end())
        throw EComPort(EComPort::RegisterLinkFailed);
    links_.push_back(Link);
}

void TCustomComPort::UnRegisterLink(TComLink* Link) {
    const auto it = std::find(links_.begin(), links_.end(), Link);
    if (it == links_.end())
        throw EComPort(EComPort::RegisterLinkFailed);
    links_.erase(it);
}

void TCustomComPort::forEachLink(const std::function<void(TComLink&)>& call) {
    // A handler may unregister links (an LED destroyed while it processes
    // events), so each one is checked just before it is told.
    const auto snapshot = links_;
    for (TComLink* link : snapshot)
        if (std::find(links_.begin(), links_.end(), link) != links_.end())
            call(*link);
}
