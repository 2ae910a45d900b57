#pragma once
// The two kinds of label the windows use.

#include <QLabel>

// Fixed captions such as "Port:" or "Status:": 8.25 pt bold, no border, on the window's
// background.
QLabel* MakeCaptionLabel(const QString& text, QWidget* parent);

// Value fields such as the port or the status line: white background, the text drawn a small
// offset from the left edge; bold or regular as the window wants.
QLabel* MakeValueLabel(const QString& text, bool bold, QWidget* parent);

// The program's standard font at the given size ("MS Sans Serif", or the closest the
// system has).
QFont ProgramFont(double points, bool bold = false);
