#pragma once
// What a screen reader learns about the program's own widgets beyond what Qt tells it by
// itself. Qt describes a plain QWidget as an anonymous panel ("filler" on Linux), so a window
// built on QWidget would not read as a window, and it knows nothing of the busy indicator or of
// which label is a status line.

#include <QAccessible>

class QLabel;
class QWidget;

// Gives the widget the role a screen reader announces it by:
// - QAccessible::Window: a top-level window, named by its title (a "frame" on Linux);
// - QAccessible::StatusBar: a label that reports the state of its window, named by its text,
//   and whose changes are announced without the focus moving to it;
// - QAccessible::ProgressBar: a busy indicator, busy while it runs, named after what it
//   waits for (its accessible name).
// A description Qt made of the widget before it had its role is dropped, so the role holds
// however early a screen reader looked.
void GiveAccessibleRole(QWidget* widget, QAccessible::Role role);

// Ties a caption to the field it names, so that a screen reader reads them together
// ("Status: Ready"): the field is labelled by the caption.
void TieCaption(QLabel* caption, QWidget* field);
