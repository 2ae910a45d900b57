#pragma once
// Where the save dialog opens: the folder of the last saved file, kept as "DIR" under
// Software\ZORV-RZT. It belongs in the machine-wide root, but on Windows a standard user (or
// an administrator without elevation) may not write there, and a 64-bit program gets no
// registry virtualisation, so a refused write falls back to the same key of the current user.

#include <QString>

class clsReg;

// The per-user value exists only while the machine-wide one could not be written, so it is the
// newer of the two and wins; otherwise the machine-wide value.
QString ReadSavedFolder(clsReg& reg);

// Remembers the folder of `savedPath` (a path as the file dialog gives it) in the platform's own
// separators: machine-wide when that root takes it (and then no per-user value is left to
// shadow it), else per-user.
void RememberSavedFolder(clsReg& reg, const QString& savedPath);
