#include "PushButton.h"

#include "Artwork.h"
#include "Labels.h"

#include <QIcon>
#include <QPainter>
#include <QPen>

PushButton::PushButton(const QString& caption, const QString& iconResource, QWidget* parent)
    : QPushButton(caption, parent) {
    setFont(ProgramFont(8.25));
    // A style sheet gives the same white face under every platform style; the native Windows
    // styles would ignore a palette colour for the button face.
    setStyleSheet(QStringLiteral(
        "QPushButton { background-color: white; color: black; border: 1px solid #707070;"
        " border-radius: 3px; padding: 2px 6px; }"
        "QPushButton:hover { background-color: #eef5fc; border-color: #3c7fb1; }"
        "QPushButton:pressed { background-color: #d6e6f5; }"
        "QPushButton:focus { border-color: #3c7fb1; }"
        "QPushButton:disabled { color: #a0a0a0; border-color: #c0c0c0; }"));
    InitArtwork();
    if (!iconResource.isEmpty()) {
        setIcon(QIcon(iconResource));
        setIconSize(QSize(16, 16));
    }
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
}

void PushButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    // The dotted focus rectangle inside the face, drawn here because style sheets leave the
    // focus mark to the platform style and some styles draw none.
    QPainter painter(this);
    QPen pen(QColor(0, 0, 0));
    pen.setStyle(Qt::DotLine);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
}
