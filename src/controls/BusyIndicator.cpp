#include "BusyIndicator.h"

#include "Accessibility.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <limits>

namespace {

// Steps of two pixels read as a glide rather than as jumps. A frame costs the program about a
// quarter of a millisecond however little it repaints (most of it talking to the display), so
// ten frames a second keep a long search at a few tenths of a percent of one core; each frame
// repaints only the blocks' old and new places.
constexpr int FrameIntervalMs = 100;
constexpr int BlockCount = 5;
constexpr int BlockWidth = 7;
constexpr int BlockGap = 2;
constexpr int StepPx = 2; // how far the group of blocks moves per frame
constexpr int GroupWidth = BlockCount * (BlockWidth + BlockGap) - BlockGap;

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(FrameIntervalMs);
    // A coarse timer may shift a frame by 5 ms to wake up together with the search's tick.
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &BusyIndicator::NextFrame);
    setAttribute(Qt::WA_OpaquePaintEvent);
    GiveAccessibleRole(this, QAccessible::ProgressBar);
}

void BusyIndicator::Start() {
    if (running_) return;
    running_ = true;
    Animate();
    update();
    TellBusyChanged();
}

void BusyIndicator::Stop() {
    if (!running_) return;
    running_ = false;
    timer_.stop();
    update();
    TellBusyChanged();
}

void BusyIndicator::TellBusyChanged() {
    QAccessible::State changed;
    changed.busy = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void BusyIndicator::showEvent(QShowEvent*) {
    shown_ = true;
    Animate();
}

// Also sent (spontaneously) when the window is minimised, and to the children of a window
// that is hidden.
void BusyIndicator::hideEvent(QHideEvent*) {
    shown_ = false;
    timer_.stop();
}

void BusyIndicator::Animate() {
    if (running_ && shown_ && !timer_.isActive()) timer_.start();
}

void BusyIndicator::NextFrame() {
    const QRect before = GroupRect(phase_);
    phase_ = phase_ == std::numeric_limits<int>::max() ? 0 : phase_ + 1;
    update(before.united(GroupRect(phase_)));
}

QRectF BusyIndicator::Inner() const {
    return QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
}

QRect BusyIndicator::GroupRect(int phase) const {
    const QRectF inner = Inner();
    const int span = static_cast<int>(inner.width()) + GroupWidth;
    if (span <= 0) return {};
    // Phase 0 shows the group at the left end, so a started indicator shows blocks at once.
    const long long travelled = static_cast<long long>(phase) * StepPx + GroupWidth;
    const qreal left = inner.left() - GroupWidth + static_cast<qreal>(travelled % span);
    const QRectF group(left, inner.top(), GroupWidth, inner.height());
    // Whole pixels around it, inside the track (antialiased edges touch the pixel beside).
    return group.toAlignedRect().adjusted(-1, 0, 1, 0).intersected(inner.toAlignedRect());
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // Qt clips all of this to the part that needs repainting.
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillRect(rect(), palette().window());
    QPainterPath track;
    track.addRoundedRect(frame, 3, 3);
    painter.fillPath(track, Qt::white);
    painter.setPen(QColor(0x8c, 0x8c, 0x8c));
    painter.drawPath(track);

    if (!running_) {
        return; // stopped: an empty track
    }

    // A group of blocks slides from left to right through the track and comes round again.
    const QRectF inner = Inner();
    const int span = static_cast<int>(inner.width()) + GroupWidth;
    if (span <= 0) {
        return;
    }
    const long long travelled = static_cast<long long>(phase_) * StepPx + GroupWidth;
    const qreal groupLeft = inner.left() - GroupWidth + static_cast<qreal>(travelled % span);

    QLinearGradient shade(inner.topLeft(), inner.bottomLeft());
    shade.setColorAt(0.0, QColor(0xb8, 0xf0, 0xb0));
    shade.setColorAt(0.45, QColor(0x3a, 0xc0, 0x3a));
    shade.setColorAt(1.0, QColor(0x20, 0x90, 0x20));

    painter.setClipRect(inner, Qt::IntersectClip);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    for (int i = 0; i < BlockCount; ++i) {
        const QRectF block(groupLeft + i * (BlockWidth + BlockGap), inner.top(), BlockWidth,
                           inner.height());
        painter.drawRect(block);
    }
}
