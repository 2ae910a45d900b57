#pragma once
// The text rules of the retrieval window: how received line ends are rewritten, what a saved
// file holds, and how a failed file operation is worded. No window, no file: plain text in,
// plain text out.

#include <QByteArray>
#include <QString>
#include <QStringView>

// The received text as the window shows it after a download: every CR LF pair becomes a single
// LF, whatever follows the last CR LF pair is dropped (a line the device had not finished), and
// lone CR and lone LF characters stay. Without any CR LF pair the result is empty.
// "A\r\nB\r\n" -> "A\nB"; "A\r\nB" -> "A"; "\r\nA\r\n" -> "\nA".
QString ConvertLineEnds(QStringView text);

// The bytes of a saved file: one line for every line of the text (lines end at LF; a last line
// without one counts too, so the file holds what the window shows), each without its trailing
// CR and LF characters and without leading and trailing spaces (tabs stay), ended by CR LF.
// One byte per character; a character beyond Latin-1 cannot come from the device and is
// written as '?'.
QByteArray SaveLines(QStringView text);

// The two-line message of a failed file operation: lead text ("Could not Open "), the path,
// CR LF, "Err: ", the number, " - ", the description.
QString FileFailureText(const QString& lead, const QString& path, int number,
                        const QString& description);
