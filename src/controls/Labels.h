#pragma once
// The two kinds of label the windows use.

#include <QLabel>

// Fixed captions such as "Port:" or "Status:": 8.25 pt bold, no border, on the window's
// background.
QLabel* MakeCaptionLabel(const QString& text, QWidget* parent);

// Value fields such as the port or the status line: white background, the text drawn a small
// offset from the left edge; bold or regular as the window wants.
QLabel* MakeValueLabel(const QString& text, bool bold, QWidget* parent);

// The program's standard font at the given size. The windows were laid out for "MS Sans Serif";
// the program brings Liberation Sans, whose widths are Arial's, so captions fit their boxes on
// every machine. Should that face be unavailable, whatever stands in is condensed to the same
// widths.
QFont ProgramFont(double points, bool bold = false);

// The face for device text, one width for every character. The program brings Liberation Mono,
// because a machine may have no fixed-pitch face at all (Wine has none); without it, the
// system's own.
QFont ProgramFixedPitchFont(double points);

// The family the windows' texts name; runs set in it are drawn in the program's font.
inline constexpr const char* LaidOutFamily = "MS Sans Serif";

// How much to condense a face measured at `sampleEm` ems over the width sample so that it is no
// wider than the program's own face (`ownEm`); 100 means as it is.
int CondensedStretch(double sampleEm, double ownEm);
