#pragma once
// Writing a whole file so that it is either complete or not there at all: the bytes go to a
// temporary file beside the target, which is flushed to the disk and replaces the target only
// once that flush has succeeded. A save that fails (a write, the flush or the replacing)
// therefore leaves an existing file exactly as it was. On Windows a target that may not be
// replaced (another program holds it open without sharing) fails the save before anything is
// written, as a file that cannot be opened.

#include <QByteArray>
#include <QString>
#include <functional>

struct SaveOutcome {
    enum class Step { None, Open, Write, Close };
    Step failed = Step::None;
    int number = 0;      // the system's error number of the failed step (GetLastError on Windows)
    QString description; // and its text
    bool Ok() const { return failed == Step::None; }
};

// The bytes are written in blocks of this size; every block must be taken whole.
inline constexpr qsizetype SaveBlockBytes = 64 * 1024;

SaveOutcome WriteWholeFile(const QString& path, const QByteArray& bytes);

// The same for bytes made as they are written: `fill` puts the next bytes into the buffer it is
// given, up to the capacity, and returns how many; fewer than the capacity ends the file.
using BlockSource = std::function<qsizetype(char* buffer, qsizetype capacity)>;
SaveOutcome WriteWholeFile(const QString& path, const BlockSource& fill);

// What forces an open file's bytes onto the disk, given the file's handle (a descriptor, or a
// HANDLE on Windows): 0 when they are there, else the system's error number. The system's own
// (fsync, FlushFileBuffers) unless a test has put another in its place; nullptr puts the
// system's back. A file system that cannot flush at all (some network and virtual drives)
// answers that it does not support it; that does not fail the save.
using FlushToDisk = int (*)(qintptr handle);
void SetFlushToDisk(FlushToDisk flush);

#ifdef Q_OS_WIN
// What creates the temporary file beside the target, given its full name: the new file's
// handle, or INVALID_HANDLE_VALUE with GetLastError telling why. CreateFileW unless a test has
// put another in its place; nullptr puts it back.
using CreateBeside = void* (*)(const wchar_t* name);
void SetCreateBeside(CreateBeside create);
#endif
