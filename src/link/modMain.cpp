#include "modMain.h"

#include "clsReg.h"

#include <QCoreApplication>

modMain::modMain(QObject* parent) : QObject(parent) {}

modMain::~modMain() = default;

void modMain::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void modMain::EndProgram(int exitCode) {
    // Waits look at the flag before anything else, so code that was waiting unwinds without
    // starting new waits.
    const bool first = !timers_.Ending();
    timers_.EndWaits();
    if (first) emit programEnding(exitCode);
}
