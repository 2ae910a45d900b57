#pragma once
// What an open serial port's line itself says, below Qt's buffering and its error reports.

#include <QSerialPort>

// Whether the line has hung up: the converter was pulled out (the kernel hangs its tty up) or
// the far end of a pseudo-terminal closed. Qt Serial Port reports this differently from release
// to release: an error on every read in some, and in others a port that stays readable for ever
// and quietly reads nothing. The descriptor's own state says it the same way everywhere.
// True when it reports a hang-up or an error, or is readable while nothing is there to read (a
// read would return end of file). Never blocks. Always false on Windows, where a pulled
// converter shows as errors on the port, and for a port that is not open.
bool PortHungUp(const QSerialPort& port);

// True when input is queued that nobody has read yet: in Qt's buffer or on the line. Never
// blocks.
bool PortInputWaiting(const QSerialPort& port);
