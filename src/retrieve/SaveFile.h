#pragma once
// Writing a whole file so that it is either complete or not there at all: the bytes go to a
// temporary file beside the target, which replaces the target only once every byte is on
// disk. A save that fails therefore leaves an existing file exactly as it was.

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
