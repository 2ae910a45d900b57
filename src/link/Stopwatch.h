#pragma once
// Ten stopwatch slots on the monotonic high-resolution clock. Every short wait and time-out
// of the program is measured on one of them.

#include <QObject>
#include <array>
#include <cstdint>

class Stopwatch : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstSlot = 1;
    static constexpr int LastSlot = 10;

    explicit Stopwatch(QObject* parent = nullptr);

    // Stores the clock's frequency and the start count, and sets elapsed to 0.
    void StartTimer(int slot);
    // Takes a reading: elapsed = (now - start) / frequency, rounded to 0.0001 s. The slot
    // keeps its start, so later readings go on measuring from it.
    void StopTimer(int slot);
    // The same reading as StopTimer; returns the new elapsed seconds.
    double TimeElapsed(int slot);
    // The elapsed seconds of the latest reading, without taking a new one.
    double LastElapsed(int slot) const;

    // Waits until a reading of the slot is strictly greater than limitSeconds, letting window
    // events run meanwhile. It blocks on the event loop with a precise single-shot timer and
    // never spins; a restart of the slot from inside the wait (StartTimer) moves the end
    // later. It returns at once when the program is ending.
    void Wait(int slot, double limitSeconds);

    // A wait in progress, or started later, returns at once from now on.
    void EndWaits();
    bool Ending() const { return ending_; }

signals:
    void slotStarted(int slot);
    void ending();

private:
    struct Slot {
        std::int64_t frequency = 0;
        std::int64_t startCount = 0;
        std::int64_t stopCount = 0;
        std::int64_t elapsedTenThousandths = 0; // fixed point, 4 decimals
    };
    static bool Valid(int slot) { return slot >= FirstSlot && slot <= LastSlot; }
    std::array<Slot, LastSlot> slots_{};
    bool ending_ = false;
};
