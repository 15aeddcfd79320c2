#include "app/EndSignals.h"

#include "app/ProgramEnd.h"
#include "link/LinkState.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
int wakePipe[2] = {-1, -1};

// Only async-signal-safe calls here. The pipe never blocks: once it holds a
// byte, more add nothing.
void wake(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

} // namespace

EndSignals::EndSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &EndSignals::received);
    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : Signals)
        ::sigaction(s, &action, nullptr);
}

EndSignals::~EndSignals() {
    for (const int s : Signals)
        std::signal(s, SIG_DFL);
    delete notifier_;
    for (int& end : wakePipe) {
        ::close(end);
        end = -1;
    }
}

void EndSignals::received() {
    char bytes[16];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
    }
    if (ProgramEnd::sendRunning())
        LinkState.CancelRequested = true;
    ProgramEnd::requestQuit();
}
