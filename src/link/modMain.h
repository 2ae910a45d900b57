#pragma once
// The link module: the state the windows share about the serial link, the stopwatch slots
// and the helpers around them. Windows hold a reference to one modMain; tests make their own.

#include "Stopwatch.h"

#include <QObject>
#include <QSerialPort>
#include <QStringList>
#include <memory>

class clsReg;

class modMain : public QObject {
    Q_OBJECT
public:
    explicit modMain(QObject* parent = nullptr);
    ~modMain() override;

    // --- Link fields (shown by the search window) ---
    // System name of the port the device was found on ("COM5", "/dev/ttyUSB0"); empty: none.
    QString PortNum;
    // The identity text; while a search runs, the buffer identification text collects in.
    QString PortId;
    // True while a search is in progress.
    bool PortSearching = false;

    // --- Module variables ---
    QStringList PortList;      // candidate ports, in the order they are tried
    QString PortReply;         // text collected by the last SendAndReceive
    bool PortStreaming = false;
    std::unique_ptr<clsReg> Reg; // the one settings-store object, created by the search window

    // The program's one serial port. It lives here rather than on a window so that the link
    // can run without one.
    QSerialPort Comm;

    // --- Stopwatch slots 1 to 10 ---
    Stopwatch& Timers() { return timers_; }
    void StartTimer(int slot) { timers_.StartTimer(slot); }
    void StopTimer(int slot) { timers_.StopTimer(slot); }
    double TimeElapsed(int slot) { return timers_.TimeElapsed(slot); }
    void Wait(int slot, double limitSeconds) { timers_.Wait(slot, limitSeconds); }

    // Lets pending window events run once.
    static void DoEvents();

    // Ends the program at once: every wait returns and programEnding is raised, which the
    // application connects to stopping every event loop (tests watch it instead). Safe to
    // call more than once.
    void EndProgram(int exitCode = 0);
    bool Ending() const { return timers_.Ending(); }

signals:
    void programEnding(int exitCode);

private:
    Stopwatch timers_;
};
