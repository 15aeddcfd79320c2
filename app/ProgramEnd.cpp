#include "app/ProgramEnd.h"

#include <QCoreApplication>

namespace ProgramEnd {

namespace {

int sendDepth = 0;
bool pending = false;
Quitter quitter;

void quitNow() {
    if (quitter)
        quitter();
    else
        QCoreApplication::quit();
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
