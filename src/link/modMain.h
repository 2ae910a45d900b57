#pragma once
// The link module: the state the windows share about the serial link, the stopwatch slots,
// the exchanges with the device, the receive handler and the two supervision timers.
// Windows hold a reference to one modMain; tests make their own.

#include "Stopwatch.h"

#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>
#include <memory>

class clsReg;
class LinkWindows;
class QSocketNotifier;

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

    // The ID probe (every 100 ms while identifying) and the link check (every 2 s while
    // connected). Each is off while its own tick runs.
    QTimer timID;
    QTimer timComm;

    // The windows the link reports to; none is fine (nothing is shown then).
    void SetWindows(LinkWindows* windows) { windows_ = windows; }

    // --- Stopwatch slots 1 to 10 ---
    Stopwatch& Timers() { return timers_; }
    void StartTimer(int slot) { timers_.StartTimer(slot); }
    void StopTimer(int slot) { timers_.StopTimer(slot); }
    double TimeElapsed(int slot) { return timers_.TimeElapsed(slot); }
    void Wait(int slot, double limitSeconds) { timers_.Wait(slot, limitSeconds); }

    // --- Exchanges with the device ---
    // Sends a one-letter command, pauses 0.1 s letting events run, then collects the reply for
    // 0.1 s (0.5 s for waitValue 0) letting no events run. 0: something came (PortReply holds
    // it); 1: nothing came, or the port went away meanwhile (whatever came before is no
    // answer from a device that is gone).
    qint16 SendAndReceive(const QString& command, float waitValue);
    // Routes received text to the retrieval window and sends the command.
    void SendNoWait(const QString& command);
    // Signs off with "X", pauses 0.1 s and closes the port.
    void DisconnectDevice();
    // Opens the first candidate of PortList that opens; PortNum names it, or stays empty.
    // Input that arrives within 40 ms of the opening is not the device's answer to anything:
    // it is thrown away, and so is whatever follows until the line has been quiet for the
    // quiet time (events run meanwhile).
    void OpenFirstPort();
    // Ports of PortList that refused to open with a permission error at the last attempt: the
    // user may lack the rights, or another program holds or has locked the port.
    const QStringList& PortsDenied() const { return portsDenied_; }

    // True while a SendAndReceive is under way (its pause lets clicks and ticks run; a second
    // exchange must not start on the same slot then).
    bool ExchangeBusy() const { return exchanges_ > 0; }

    // --- Supervision ticks ---
    void timID_Timer();
    void timComm_Timer();

    // The receive handler: identification text, streamed data, or left for SendAndReceive.
    void OnComm();

    // The hand-over's end of the search: no more identification text. PortId keeps the
    // identity built from the last complete line; a line still arriving is not part of it.
    void EndIdentification();

    // Lets pending window events run once.
    static void DoEvents();

    // Ends the program at once: every wait returns and programEnding is raised, which the
    // application connects to stopping every event loop (tests watch it instead). Safe to
    // call more than once.
    void EndProgram(int exitCode = 0);
    bool Ending() const { return timers_.Ending(); }

    // True while the driver or the port holds received bytes the program has not yet been told
    // of: the line has not been quiet, whatever the clock says.
    bool InputWaiting() const;

    // Serial settings of the device.
    static constexpr qint32 BaudRate = 19200;

signals:
    void programEnding(int exitCode);
    // A SendAndReceive has ended; the link is free for the next exchange.
    void exchangeFinished();

private:
    void Send(const QString& command);
    QString ReadAllWaiting();
    void OnPortError(QSerialPort::SerialPortError error);
    // The port has gone away (the converter was pulled out): close it once, from the event loop.
    void PortGone();
    void PortVanished();
    // Looks at the open port's line; a hang-up counts as the port gone.
    void CheckHangUp();
    // While the port is open, the event loop tells of its hang-up at once (Unix).
    void WatchForHangUp();
    void EndHangUpWatch();
    void HandOver();
    void DiscardStaleInput();

    Stopwatch timers_;
    LinkWindows* windows_ = nullptr;
    int exchanges_ = 0;
    bool handingOver_ = false;
    QString identity_; // built from the last complete identification line
    bool closeQueued_ = false;
    bool discarding_ = false; // input is stale: thrown away until the line is quiet
    int vanishings_ = 0; // times an open port was found gone
    QPointer<QSocketNotifier> hangUpWatch_;
    QStringList portsDenied_;
};
