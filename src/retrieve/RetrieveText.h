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
// The same rewrite done inside the string itself: a long download is not copied.
void ConvertLineEndsInPlace(QString& text);

// The bytes of a saved file: one line for every line of the text (lines end at LF; a last line
// without one counts too, so the file holds what the window shows), each without its trailing
// CR and LF characters and without leading and trailing spaces (tabs stay), ended by CR LF.
// One byte per character; a character beyond Latin-1 cannot come from the device and is
// written as '?'.
QByteArray SaveLines(QStringView text);

// The bytes SaveLines gives, a block at a time, so that a long text is never held a second
// time as a whole. The text must stay unchanged while it is read.
class SaveLinesReader {
public:
    explicit SaveLinesReader(QStringView text) : text_(text) {}
    // Puts up to `capacity` bytes (at least 1) into `out`; fewer only at the end, 0 after it.
    qsizetype Read(char* out, qsizetype capacity);

private:
    QStringView text_;
    qsizetype next_ = 0;  // where the next line starts
    qsizetype from_ = 0;  // the current line's characters still to write: [from_, to_)
    qsizetype to_ = 0;
    int ending_ = 0;      // bytes of the current line's CR LF still to write
};

// The two-line message of a failed file operation: lead text ("Could not Open "), the path,
// CR LF, "Err: ", the number, " - ", the description.
QString FileFailureText(const QString& lead, const QString& path, int number,
                        const QString& description);
