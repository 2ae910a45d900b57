#pragma once
// A simulated RZT device on a pseudo-terminal, for tests and for trying the program by hand.
//
// The device runs on a thread of its own, so it keeps answering and time-stamping while the
// thread that uses it is blocked. Every member may be called from any thread; the control
// calls return once the device has carried them out. Signals are delivered in the thread the
// SimDevice lives in.
//
// The port it offers is the slave side of the pseudo-terminal (portName(), e.g. /dev/pts/7),
// already raw, and it accepts any line settings (19200 8N1 is what the device expects).
// Pseudo-terminal names are reused: after unplug() and plug() the new port may have the old
// name.

#include "SimConfig.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class QThread;
class SimEngine;

class SimDevice : public QObject {
    Q_OBJECT
public:
    explicit SimDevice(const SimConfig& config = SimConfig(), QObject* parent = nullptr);
    ~SimDevice() override;

    // Opens a new pseudo-terminal (true when plugged already). On failure the reason goes to
    // *error when given.
    bool plug(QString* error = nullptr);
    // Pulls the cable: the pseudo-terminal closes and whoever has the port open sees a hang-up.
    // Output not yet delivered is lost.
    void unplug();
    bool isPlugged() const;
    // The port to open; empty while unplugged.
    QString portName() const;

    // A device switched off stays plugged in but neither answers nor sends anything; output
    // still on its way is dropped. Bytes sent to it are still recorded. Switching on (and
    // plugging in) starts the count of ignored "?" requests again.
    void switchOff();
    void switchOn();
    bool isOn() const;

    SimConfig config() const;
    // Applies to replies to commands received from now on.
    void setConfig(const SimConfig& config);

    // Sends bytes unprompted, paced like data, behind any reply still on its way.
    void send(const QByteArray& bytes);
    // Sends the pattern over and over, paced like data, until stopStream(), a switch-off or an
    // unplug. Without line rate or gaps it goes as fast as the reader takes it.
    void startStream(const QByteArray& pattern);
    void stopStream();
    // Bytes produced but not yet taken by the pseudo-terminal (its own buffer holds some more).
    qsizetype pendingOutput() const;

    // Every byte received since the start or the last clearReceived(), in order, with the
    // monotonic time (std::chrono::steady_clock) it was read.
    QList<SimRxByte> received() const;
    QByteArray receivedBytes() const;
    // How often "X" arrived while the device was on.
    int exitCount() const;
    void clearReceived();

signals:
    void bytesReceived(const QByteArray& bytes);
    // A command letter ("?", "H", "T", "R", "C", "A", "X") that arrived while the device was on.
    void commandReceived(char command);
    void plugged(const QString& portName);
    void unplugged();

private:
    template <typename F> auto onEngine(F f) const;

    std::unique_ptr<QThread> thread_;
    std::unique_ptr<SimEngine> engine_;
};
