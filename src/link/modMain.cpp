#include "modMain.h"

#include "LinkWindows.h"
#include "PortLine.h"
#include "TextHelpers.h"
#include "clsReg.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <cmath>

namespace {

constexpr double PauseAfterCommand = 0.1;
constexpr int StaleLookMs = 40;
constexpr int StaleSlot = 9;
constexpr double StaleQuietSeconds = 0.2; // as long as a download's end

// Milliseconds to block for so that a reading of `elapsed` goes just past `limit`.
int MsecsPast(double limit, double elapsed) {
    return static_cast<int>(std::floor(std::max(0.0, limit - elapsed) * 1000.0)) + 1;
}

} // namespace

modMain::modMain(QObject* parent) : QObject(parent) {
    timID.setInterval(100);
    timComm.setInterval(2000);
    connect(&timID, &QTimer::timeout, this, &modMain::timID_Timer);
    connect(&timComm, &QTimer::timeout, this, &modMain::timComm_Timer);
    connect(&Comm, &QSerialPort::readyRead, this, &modMain::OnComm);
    connect(&Comm, &QSerialPort::errorOccurred, this, &modMain::OnPortError);
    // The watch goes before the descriptor it watches is closed, however the port is closed.
    connect(&Comm, &QIODevice::aboutToClose, this, &modMain::EndHangUpWatch);
}

modMain::~modMain() {
    EndHangUpWatch();
    // The port is a member and closes after this object's other members have gone: nothing of
    // it may reach back here then.
    disconnect(&Comm, nullptr, this, nullptr);
}

void modMain::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void modMain::EndProgram(int exitCode) {
    // Waits look at the flag before anything else, so code that was waiting unwinds without
    // starting new waits.
    const bool first = !timers_.Ending();
    timID.stop();
    timComm.stop();
    timers_.EndWaits();
    if (first) emit programEnding(exitCode);
}

void modMain::Send(const QString& command) {
    if (command.isEmpty() || !Comm.isOpen()) return;
    const char byte = command.at(0).toLatin1();
    Comm.write(&byte, 1);
    Comm.flush();
}

bool modMain::InputWaiting() const {
    return PortInputWaiting(Comm);
}

QString modMain::ReadAllWaiting() {
    if (!Comm.isOpen()) return QString();
    return QString::fromLatin1(Comm.readAll());
}

qint16 modMain::SendAndReceive(const QString& command, float waitValue) {
    ++exchanges_;
    const int vanishingsBefore = vanishings_;
    PortStreaming = false;
    const double window = waitValue == 0.0f ? 0.5 : 0.1;
    Send(command);
    Wait(1, PauseAfterCommand);

    QString collected;
    StartTimer(1);
    // The collection lets no window events run: it blocks on the port until data comes or the
    // window closes, and sleeps out the window when the port is closed or has failed.
    for (;;) {
        collected += ReadAllWaiting();
        const double elapsed = TimeElapsed(1);
        if (elapsed > window || Ending()) break;
        const int msecs = MsecsPast(window, elapsed);
        // Never a wait on a port that is not open: Qt's Windows backend has no notifier then
        // and, in some versions, crashes on it.
        if (!Comm.isOpen() || !Comm.waitForReadyRead(msecs)) {
            // A hung-up port is "ready" at once and reads nothing, on some Qt releases with no
            // error at all: without this look the window would be slept out on a dead port.
            CheckHangUp();
            const double now = TimeElapsed(1);
            if (now <= window) QThread::usleep(static_cast<unsigned long>(MsecsPast(window, now)) * 1000);
        }
    }
    StopTimer(1);
    CheckHangUp();
    const bool gone = vanishings_ != vanishingsBefore || closeQueued_ || !Comm.isOpen();

    qint16 result = 1;
    if (!collected.isEmpty() && !gone) {
        result = 0;
        PortReply = collected;
    } else {
        PortReply.clear();
    }
    PortStreaming = true;
    --exchanges_;
    emit exchangeFinished();
    return result;
}

void modMain::SendNoWait(const QString& command) {
    PortStreaming = true;
    Send(command);
}

void modMain::DisconnectDevice() {
    Send(QStringLiteral("X"));
    Wait(1, PauseAfterCommand);
    if (Comm.isOpen()) Comm.close();
}

void modMain::OpenFirstPort() {
    portsDenied_.clear();
    // A port left open by an earlier search belongs to a device that went away; keeping it
    // would stop the re-plugged device from being found.
    if (Comm.isOpen()) Comm.close();
    for (const QString& candidate : std::as_const(PortList)) {
        Comm.setPortName(candidate);
        Comm.setBaudRate(BaudRate);
        Comm.setDataBits(QSerialPort::Data8);
        Comm.setParity(QSerialPort::NoParity);
        Comm.setStopBits(QSerialPort::OneStop);
        Comm.setFlowControl(QSerialPort::NoFlowControl);
        if (Comm.open(QIODevice::ReadWrite) && Comm.isOpen()) {
            PortNum = candidate;
            WatchForHangUp();
            DiscardStaleInput();
            return;
        }
        if (Comm.error() == QSerialPort::PermissionError) portsDenied_.append(candidate);
        Comm.clearError();
    }
}

void modMain::DiscardStaleInput() {
    // Input that was there before this connection asked anything answers nothing it will ask:
    // the rest of a download another run stopped halfway, still coming. Taken in, it would
    // become the device's identity or the front of the next download. Qt empties the line's
    // buffers as it opens the port, but what was on its way still arrives: a converter passes
    // on what it holds within its latency time (16 ms at most by default). So the port is
    // watched that long, letting nothing else run; only if something came is the line waited
    // out until it has been quiet for the quiet time.
    discarding_ = true;
    if (PortInputWaiting(Comm) || Comm.waitForReadyRead(StaleLookMs)) {
        while (Comm.isOpen() && !Ending()) {
            Comm.clear(QSerialPort::Input);
            Comm.readAll();
            // The receive handler throws away what comes meanwhile and starts the slot again.
            Wait(StaleSlot, StaleQuietSeconds);
            if (!PortInputWaiting(Comm)) break;
        }
    }
    discarding_ = false;
}

void modMain::timID_Timer() {
    timID.stop();
    Send(QStringLiteral("?"));
    if (!Ending()) timID.start();
}

void modMain::timComm_Timer() {
    timComm.stop();
    // A user command's exchange is under way (its pause lets this tick run): checking now
    // would start a second exchange on the same slot. Look again at the next tick.
    if (ExchangeBusy()) {
        timComm.start();
        return;
    }
    const bool closed = !Comm.isOpen();
    const bool silent = SendAndReceive(QStringLiteral("?"), 0.1f) == 1;
    if (Ending()) return;
    if (!closed && !silent) {
        timComm.start();
        return;
    }
    if (SendAndReceive(QStringLiteral("?"), 0.2f) == 0) {
        if (!Ending()) timComm.start();
        return;
    }
    if (Ending()) return;
    // The device is gone. Close the port now, so the search starts from a clean state.
    if (Comm.isOpen()) Comm.close();
    if (windows_) windows_->LinkLost();
}

void modMain::OnComm() {
    if (discarding_) {
        Comm.readAll();
        StartTimer(StaleSlot);
        return;
    }
    if (PortSearching) {
        PortId += ReadAllWaiting();
        if (PortId.isEmpty() || PortId.back() != QLatin1Char('\n')) return;
        PortId = IdentityText(PortId);
        identity_ = PortId;
        if (windows_) windows_->ShowIdentity(PortId);
        timID.stop();
        // A line that completes during the hand-over only renews the identity text; the
        // hand-over already under way is not started a second time.
        if (handingOver_) return;
        handingOver_ = true;
        // The hand-over runs from the event loop, not inside the port's notification: the
        // port holds back further notifications until its handler returns, and the
        // hand-over's pause must see what arrives meanwhile.
        QMetaObject::invokeMethod(this, &modMain::HandOver, Qt::QueuedConnection);
        return;
    }
    if (PortStreaming) {
        const QString text = ReadAllWaiting();
        if (text.isEmpty()) return;
        if (windows_) windows_->AppendReceived(text);
        StopTimer(10);
        StartTimer(10);
    }
    // Otherwise the text stays in the port for the SendAndReceive that is collecting.
}

void modMain::HandOver() {
    if (windows_ && !Ending()) windows_->FinishSearch();
    handingOver_ = false;
}

void modMain::EndIdentification() {
    PortSearching = false;
    PortId = identity_;
}

void modMain::OnPortError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::TimeoutError:
        // Every wait for data that runs out reports this. The port is fine; left standing,
        // the stale error would be read as the outcome of whatever the port does next.
        Comm.clearError();
        return;
    // A converter that is pulled out shows as an error on an open port, repeated without end
    // and with the port still reporting open: a read error or a resource error, and on
    // Windows whatever the driver answered, passed through unmapped (access denied, a
    // general failure). Treat each as the port gone: close it once.
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::PermissionError:
    case QSerialPort::UnknownError:
        break;
    default:
        return;
    }
    PortGone();
}

void modMain::PortGone() {
    // Before the port has opened, errors are the reasons a candidate refused to open: the
    // search deals with them.
    if (!Comm.isOpen() || closeQueued_) return;
    closeQueued_ = true;
    ++vanishings_;
    // Nothing more to hear from this port: its watch would only fire again until the close.
    if (hangUpWatch_) hangUpWatch_->setEnabled(false);
    QMetaObject::invokeMethod(this, &modMain::PortVanished, Qt::QueuedConnection);
}

void modMain::CheckHangUp() {
    if (PortHungUp(Comm)) PortGone();
}

void modMain::WatchForHangUp() {
    EndHangUpWatch();
#ifdef Q_OS_UNIX
    // A hung-up descriptor reports an error condition, which an exception notifier is told of
    // in the same turn of the event loop as the port's own read notifier. Qt's notifier then
    // fires on every turn until the port is closed, reading nothing.
    hangUpWatch_ = new QSocketNotifier(Comm.handle(), QSocketNotifier::Exception, this);
    connect(hangUpWatch_.data(), &QSocketNotifier::activated, this, [this] {
        if (PortHungUp(Comm)) {
            PortGone();
            return;
        }
        // Urgent data on a serial line means nothing to the device's protocol; a watch that
        // fires for it would fire on every turn. The other checks still find a hang-up.
        if (hangUpWatch_) hangUpWatch_->setEnabled(false);
    });
#endif
}

void modMain::EndHangUpWatch() {
    if (!hangUpWatch_) return;
    // Not deleted here: this may run inside the watch's own signal.
    hangUpWatch_->setEnabled(false);
    hangUpWatch_->deleteLater();
    hangUpWatch_.clear();
}

void modMain::PortVanished() {
    closeQueued_ = false;
    if (!Comm.isOpen()) return;
    Comm.close();
    // Once connected (the hand-over's pause ends there too) the link check finds the device
    // gone. A device that goes while it is being asked who it is would be asked for ever on a
    // dead port: search again, without what it sent of an unfinished line, which must not
    // become the start of the next device's line.
    if (!PortSearching || handingOver_ || Ending()) return;
    timID.stop();
    PortId = identity_;
    if (windows_) windows_->LinkLost();
}
