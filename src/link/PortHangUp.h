#pragma once
// Whether the line behind an open serial port has hung up: the converter was pulled out (the
// kernel hangs its tty up) or the far end of a pseudo-terminal closed. Qt Serial Port reports
// this differently from release to release: an error on every read in some, and in others a
// port that stays readable for ever and quietly reads nothing. The descriptor's own state
// says it the same way everywhere.

#include <QSerialPort>

// True when the port's descriptor reports a hang-up or an error, or is readable while nothing
// is there to read (a read would return end of file). Never blocks. Always false on Windows,
// where a pulled converter shows as errors on the port, and for a port that is not open.
bool PortHungUp(const QSerialPort& port);
