#pragma once
// An indeterminate busy animation. It draws a few frames a second from a coarse timer, so a
// long search costs next to no CPU.

#include <QTimer>
#include <QWidget>

class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void Start();
    void Stop();
    bool IsRunning() const { return timer_.isActive(); }
    int Phase() const { return phase_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int phase_ = 0;
};
