#include "BusyIndicator.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <limits>

namespace {

// Ten frames a second is smooth enough for a "still working" sign and lets an hour-long
// search wake the program only a few thousand times.
constexpr int FrameIntervalMs = 100;
constexpr int BlockCount = 5;
constexpr int BlockWidth = 7;
constexpr int BlockGap = 2;
constexpr int StepPx = 6; // how far the group of blocks moves per frame

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(FrameIntervalMs);
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = phase_ == std::numeric_limits<int>::max() ? 0 : phase_ + 1;
        update();
    });
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BusyIndicator::Start() {
    if (!timer_.isActive()) {
        timer_.start();
        update();
    }
}

void BusyIndicator::Stop() {
    if (timer_.isActive()) {
        timer_.stop();
        update();
    }
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillRect(rect(), palette().window());
    QPainterPath track;
    track.addRoundedRect(frame, 3, 3);
    painter.fillPath(track, Qt::white);
    painter.setPen(QColor(0x8c, 0x8c, 0x8c));
    painter.drawPath(track);

    if (!timer_.isActive()) {
        return; // stopped: an empty track
    }

    // A group of blocks slides from left to right through the track and comes round again.
    const QRectF inner = frame.adjusted(2, 2, -2, -2);
    const int groupWidth = BlockCount * (BlockWidth + BlockGap) - BlockGap;
    const int span = static_cast<int>(inner.width()) + groupWidth;
    if (span <= 0) {
        return;
    }
    // Phase 0 shows the group at the left end, so a started indicator shows blocks at once.
    const long long travelled = static_cast<long long>(phase_) * StepPx + groupWidth;
    const qreal groupLeft = inner.left() - groupWidth + static_cast<qreal>(travelled % span);

    QLinearGradient shade(inner.topLeft(), inner.bottomLeft());
    shade.setColorAt(0.0, QColor(0xb8, 0xf0, 0xb0));
    shade.setColorAt(0.45, QColor(0x3a, 0xc0, 0x3a));
    shade.setColorAt(1.0, QColor(0x20, 0x90, 0x20));

    painter.setClipRect(inner);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    for (int i = 0; i < BlockCount; ++i) {
        const QRectF block(groupLeft + i * (BlockWidth + BlockGap), inner.top(), BlockWidth,
                           inner.height());
        painter.drawRect(block);
    }
}
