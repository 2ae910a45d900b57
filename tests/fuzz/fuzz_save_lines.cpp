// The bytes a save writes, from whatever text the window shows.

#include "FuzzSupport.h"
#include "RetrieveText.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace {

// The lines the window shows: one per LF, and one more for text after the last LF.
QStringList ShownLines(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// One shown line as it is saved: trailing CRs off first, then the spaces at either end (nothing
// else: tabs and no-break spaces stay), then one byte per character.
QByteArray SavedLine(QString line) {
    while (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    qsizetype first = 0;
    while (first < line.size() && line.at(first) == QLatin1Char(' ')) ++first;
    qsizetype last = line.size();
    while (last > first && line.at(last - 1) == QLatin1Char(' ')) --last;
    QByteArray bytes;
    for (qsizetype i = first; i < last; ++i) {
        const char16_t u = line.at(i).unicode();
        bytes.append(u < 0x100 ? static_cast<char>(u) : '?');
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = fuzzcheck::TextFrom(data, size);
    const QByteArray saved = SaveLines(text);

    // Every line ends in CR LF, so the file is empty or ends in CR LF, and splitting at LF leaves
    // one empty piece after the last line.
    FUZZ_CHECK(saved.isEmpty() || saved.endsWith("\r\n"), text, saved);
    QList<QByteArray> lines = saved.split('\n');
    lines.removeLast();
    const QStringList shown = ShownLines(text);
    FUZZ_CHECK(lines.size() == shown.size(), text, saved, lines.size(), shown.size());

    // The same bytes a block at a time, as a long save writes them; the block sizes, from 1 up,
    // follow the input's own bytes. A block comes back short only at the end, and after that
    // nothing more comes.
    SaveLinesReader reader(text);
    QByteArray streamed;
    bool ended = false;
    for (std::size_t round = 0;; ++round) {
        const qsizetype capacity = 1 + (size > 0 ? data[round % size] % 64 : 0);
        QByteArray block(capacity, '\0');
        const qsizetype got = reader.Read(block.data(), capacity);
        FUZZ_CHECK(got >= 0 && got <= capacity, text, capacity, got);
        if (ended) {
            FUZZ_CHECK(got == 0, text, saved, streamed, got);
            break;
        }
        streamed.append(block.constData(), got);
        FUZZ_CHECK(streamed.size() <= saved.size(), text, saved, streamed);
        ended = got < capacity;
    }
    FUZZ_CHECK(streamed == saved, text, saved, streamed);

    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray& line = lines[i];
        FUZZ_CHECK(line.endsWith('\r'), text, saved, i);
        line.chop(1);
        FUZZ_CHECK(!line.startsWith(' ') && !line.endsWith(' '), text, saved, line);
        FUZZ_CHECK(line == SavedLine(shown.at(i)), text, line, SavedLine(shown.at(i)));
    }
    return 0;
}
