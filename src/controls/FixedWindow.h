#pragma once
// Top-level windows of fixed size, laid out in twips and placed at the centre of the screen.

#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// A fixed dialog frame: title bar with a close box, no minimise or maximise box.
inline void MakeFixedDialog(QWidget* window, int clientWidthTwips, int clientHeightTwips) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(TwipsSize(clientWidthTwips, clientHeightTwips));
}

// A fixed tool window: thin frame, small title bar with a close box only, not in the taskbar.
inline void MakeFixedToolWindow(QWidget* window, int clientWidthTwips, int clientHeightTwips) {
    window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(TwipsSize(clientWidthTwips, clientHeightTwips));
}

inline void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
