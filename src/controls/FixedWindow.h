#pragma once
// Top-level windows of fixed size, laid out in twips and placed at the centre of the screen.

#include "Accessibility.h"
#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// A fixed dialog frame: title bar with a close box, no minimise or maximise box. A screen reader
// finds it as a window named by its title.
inline void MakeFixedDialog(QWidget* window, int clientWidthTwips, int clientHeightTwips) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(TwipsSize(clientWidthTwips, clientHeightTwips));
    GiveAccessibleRole(window, QAccessible::Window);
}

// A fixed tool window: thin frame, small title bar with a close box only, not in the taskbar; a
// window to a screen reader as well.
inline void MakeFixedToolWindow(QWidget* window, int clientWidthTwips, int clientHeightTwips) {
    window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(TwipsSize(clientWidthTwips, clientHeightTwips));
    GiveAccessibleRole(window, QAccessible::Window);
}

inline void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
