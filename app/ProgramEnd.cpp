#include "app/ProgramEnd.h"

#include <QCoreApplication>

namespace ProgramEnd {

namespace {

int sendDepth = 0;
bool pending = false;
Quitter quitter;

// Leaves the event loop without asking any window first: quit() would try to
// close every window and give up at the first dialog that refuses, hiding the
// others on its way.
void quitNow() {
    if (quitter)
        quitter();
    else
        QCoreApplication::exit(0);
}

} // namespace

void requestQuit() {
    if (sendDepth > 0) {
        pending = true;
        return;
    }
    quitNow();
}

bool quitPending() {
    return pending;
}

bool sendRunning() {
    return sendDepth > 0;
}

SendScope::SendScope() {
    ++sendDepth;
}

SendScope::~SendScope() {
    if (--sendDepth == 0 && pending) {
        pending = false;
        quitNow();
    }
}

Quitter setQuitter(Quitter q) {
    Quitter previous = std::move(quitter);
    quitter = std::move(q);
    return previous;
}

} // namespace ProgramEnd
