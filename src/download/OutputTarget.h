#pragma once
// What `--output` names, looked at before the device is asked for anything and again just
// before the save: a run that cannot save must say so at once, not after a download of many
// minutes, and must never replace what it should write into or what another user planted.

#include "retrieve/SaveFile.h"

#include <QString>

struct OutputTarget {
    // A FIFO or a character device (a pipe to another program, /dev/null, a terminal): written
    // in place, as standard output is. Replacing it would leave a plain file in its stead.
    bool direct = false;
    // Ok() when the save may go ahead; otherwise the save's own failure, as it would have
    // come after the download.
    SaveOutcome refused;
    // What the message names: the path as given, or the folder when the folder is what
    // refuses (that is what must change).
    QString subject;
};

// `path` is never "-" here.
OutputTarget ExamineOutput(const QString& path);
