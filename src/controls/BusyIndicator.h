#pragma once
// An indeterminate busy animation. Only the strip the blocks move through is repainted, and
// only while the indicator can be seen: hidden, or in a hidden or minimised window, it has no
// timer running, so a started indicator nobody sees costs nothing.
//
// A screen reader finds it as a busy progress bar while it runs; its accessible name says what
// it waits for.

#include <QRect>
#include <QTimer>
#include <QWidget>

class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void Start();
    void Stop();
    // Started and not stopped, whether or not it can be seen.
    bool IsRunning() const { return running_; }
    // Its frame timer runs: started and on the screen.
    bool IsAnimating() const { return timer_.isActive(); }
    int Phase() const { return phase_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Animate();
    void TellBusyChanged();
    void NextFrame();
    QRectF Inner() const;
    // Where the blocks are drawn at `phase`, in widget pixels (empty when they do not fit).
    QRect GroupRect(int phase) const;

    QTimer timer_;
    int phase_ = 0;
    bool running_ = false;
    bool shown_ = false;
};
