#pragma once
// Saving a download as the save command does, for the retrieval window and the command line
// alike: the saving rules' bytes (RetrieveText.h) written whole or not at all (SaveFile.h),
// and the message that names a failure.

#include "SaveFile.h"

#include <QString>

// Writes the saved file on a thread of its own while the caller's events keep running: making
// the bytes of a long download and flushing them to the disk take longer than a window may
// stand still. The thread reads its own (shared) copy of the text, so text that arrives
// meanwhile goes wherever the caller keeps it without touching this copy.
SaveOutcome WriteSaveFile(const QString& path, QString text);

// "Could not Open ", "Could not write to " or "Could not Close " with the path, CR LF, and the
// system's number and text.
QString SaveFailureText(const SaveOutcome& outcome, const QString& path);
