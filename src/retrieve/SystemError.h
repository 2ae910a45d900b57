#pragma once
// The number and text of the last failed system call, as the platform's own tools show them:
// GetLastError and FormatMessage on Windows (Qt's Windows file engine leaves errno alone),
// errno and strerror elsewhere.

#include <QString>

// Clears the record, so that a failure with no system call behind it reads as number 0.
void ClearSystemError();
int LastSystemErrorNumber();
QString SystemErrorText(int number);

// Stand-ins when a failure left no number: the path is a folder, or a general write fault.
extern const int SystemErrorIsFolder;
extern const int SystemErrorWriteFault;
