#include "Stopwatch.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t CounterNow() {
    return Clock::now().time_since_epoch().count();
}

constexpr std::int64_t CounterFrequency() {
    return Clock::period::den / Clock::period::num;
}

} // namespace

Stopwatch::Stopwatch(QObject* parent) : QObject(parent) {}

void Stopwatch::StartTimer(int slot) {
    if (!Valid(slot)) return;
    Slot& s = slots_[slot - 1];
    s.frequency = CounterFrequency();
    s.startCount = CounterNow();
    s.stopCount = s.startCount;
    s.elapsedTenThousandths = 0;
    emit slotStarted(slot);
}

void Stopwatch::StopTimer(int slot) {
    if (!Valid(slot)) return;
    Slot& s = slots_[slot - 1];
    s.stopCount = CounterNow();
    if (s.frequency <= 0) {
        // Never started: there is nothing to measure from.
        s.elapsedTenThousandths = 0;
        return;
    }
    const double seconds =
        static_cast<double>(s.stopCount - s.startCount) / static_cast<double>(s.frequency);
    s.elapsedTenThousandths = std::llround(seconds * 10000.0);
}

double Stopwatch::TimeElapsed(int slot) {
    if (!Valid(slot)) return 0.0;
    StopTimer(slot);
    return LastElapsed(slot);
}

double Stopwatch::LastElapsed(int slot) const {
    if (!Valid(slot)) return 0.0;
    return static_cast<double>(slots_[slot - 1].elapsedTenThousandths) / 10000.0;
}

void Stopwatch::Wait(int slot, double limitSeconds) {
    StartTimer(slot);
    if (!Valid(slot)) return; // an invalid slot never reads more than 0: don't wait forever

    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &Stopwatch::ending, &loop, &QEventLoop::quit);

    while (!ending_) {
        // Pending events run first, as they would on every pass of a polling wait.
        loop.processEvents(QEventLoop::AllEvents);
        if (ending_) break;
        const double elapsed = TimeElapsed(slot);
        if (elapsed > limitSeconds) break;
        // Sleep in the event loop until just past the limit; a restart of the slot from a
        // handler that runs meanwhile only moves the end later, which the next pass sees.
        const double remainingMs = (limitSeconds - elapsed) * 1000.0;
        wake.start(static_cast<int>(std::floor(remainingMs)) + 1);
        loop.exec();
    }
    wake.stop();
    StopTimer(slot);
}

void Stopwatch::EndWaits() {
    if (ending_) return;
    ending_ = true;
    emit ending();
}
