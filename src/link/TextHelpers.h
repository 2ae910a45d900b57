#pragma once
// Small text rules shared by the windows and the link.

#include <QString>

// The piece of text with the given 0-based index after splitting at every delimiter
// (empty pieces count); empty text when there are not that many pieces.
QString GetField(const QString& text, const QString& delimiter, qint32 index);

// The folder part of a file path: everything before its last path separator, without it.
// Empty when the path has no separator, or only one in first place. On Windows both "\"
// and "/" separate; elsewhere only "/".
QString GetFolderPath(const QString& path);
// The same rule with an explicit set of separator characters, for tests of either platform.
QString GetFolderPath(const QString& path, const QString& separators);

// "1.01.0132": the major number as it is, the minor with at least two digits and the
// revision with at least four.
QString VersionText(int major, int minor, int revision);

// The program's own version.
inline constexpr int VersionMajor = 1;
inline constexpr int VersionMinor = 1;
inline constexpr int VersionRevision = 132;
QString ProgramVersionText();

// The identity text from the identification buffer, which ends in a line feed: the last
// complete line (anything before it is left over from earlier replies), less its CR LF or
// lone LF, gives field 8, then "  Version ", then field 9.
QString IdentityText(const QString& buffer);
