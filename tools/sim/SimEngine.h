#pragma once
// The device itself: owns the pseudo-terminal and runs on the simulator's own thread. Only
// the log accessors may be called from other threads; SimDevice routes everything else here.

#include "SimConfig.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

class QSocketNotifier;

class SimEngine : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    explicit SimEngine(const SimConfig& config);
    ~SimEngine() override;

    bool plug(QString* error);
    void unplug();
    bool isPlugged() const { return master_ >= 0; }
    QString portName() const { return portName_; }

    void setPower(bool on);
    bool isOn() const { return on_; }

    const SimConfig& config() const { return config_; }
    void setConfig(const SimConfig& config) { config_ = config; }

    void send(const QByteArray& bytes);
    void startStream(const QByteArray& pattern);
    void stopStream();
    qsizetype pendingOutput() const;

    // Safe from any thread.
    std::vector<SimRxByte> received() const;
    void clearReceived();
    int exitCount() const { return exitCount_.load(); }

signals:
    void bytesReceived(const QByteArray& bytes);
    void commandReceived(char command);
    void plugged(const QString& portName);
    void unplugged();

private:
    // A reply on its way out, cut into pieces only as they come due, so that a large reply
    // costs no more than its bytes.
    struct Transfer {
        QByteArray bytes;
        qsizetype sent = 0; // handed over to the output queue so far
        qsizetype step = 0; // piece size
        std::chrono::milliseconds gap{0};
        bool lineRate = false;
        Clock::time_point start;
        bool stream = false;

        // When the next piece may go: after its last byte would have crossed the line and
        // after the gaps before it.
        Clock::time_point nextDue() const;
        Clock::time_point lastDue() const;
    };

    void onReadable();
    void handleCommand(char command);
    // Lines the bytes up behind whatever is still on its way out; pump() sends what is due.
    void enqueue(const QByteArray& bytes, const SimPacing& pacing, Clock::time_point earliest,
                 bool stream = false);
    void pump();
    void moveDuePieces(Clock::time_point now);
    void topUpStream();
    void writeOut();
    void dropOutput();
    bool paced(const SimPacing& pacing) const { return config_.lineRate || pacing.gapMs > 0; }

    SimConfig config_;
    bool on_ = true;
    int probesSeen_ = 0;

    int master_ = -1;
    int slaveHold_ = -1; // keeps the slave side open so the master never reads a hang-up
    QString portName_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer dueTimer_;
    QTimer readRetry_;

    std::deque<Transfer> scheduled_;
    QByteArray out_; // due, not yet taken by the pseudo-terminal
    qsizetype outHead_ = 0;
    Clock::time_point lineFree_{};

    bool streaming_ = false;
    QByteArray streamPattern_;

    mutable std::mutex logMutex_;
    std::vector<SimRxByte> log_;
    std::atomic<int> exitCount_{0};
};
