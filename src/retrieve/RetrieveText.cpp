#include "RetrieveText.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies in[0, end) to out less the CR of each CR LF pair, and returns the count written. The
// output never runs ahead of the input, so out may be in. Pairs never overlap (an LF is not a
// CR), so each CR is decided by its successor alone; in[end] must exist. The stretches between
// the CRs of pairs move whole: finding CRs and moving memory are what the library does fastest.
qsizetype DropPairedCr(const QChar* in, QChar* out, qsizetype end) {
    const QStringView text(in, end + 1);
    qsizetype written = 0;
    qsizetype from = 0;
    while (from < end) {
        qsizetype cr = text.indexOf(u'\r', from);
        while (cr >= 0 && cr < end && in[cr + 1] != u'\n')
            cr = text.indexOf(u'\r', cr + 1);
        const qsizetype stop = cr < 0 || cr > end ? end : cr;
        if (out + written != in + from)
            std::memmove(out + written, in + from, static_cast<std::size_t>(stop - from) * sizeof(QChar));
        written += stop - from;
        from = stop + 1; // past the pair's CR; its LF starts the next stretch
    }
    return written;
}

} // namespace

QString ConvertLineEnds(QStringView text) {
    const qsizetype lastPair = text.lastIndexOf(u"\r\n");
    if (lastPair < 0) return QString();
    QString converted;
    converted.resize(lastPair);
    converted.truncate(DropPairedCr(text.data(), converted.data(), lastPair));
    return converted;
}

void ConvertLineEndsInPlace(QString& text) {
    const qsizetype lastPair = text.lastIndexOf(u"\r\n");
    if (lastPair < 0) {
        text.clear();
        return;
    }
    QChar* data = text.data();
    text.truncate(DropPairedCr(data, data, lastPair));
}

QByteArray SaveLines(QStringView text) {
    // Each line grows by at most its CR LF; the last may lack a line feed of its own.
    QByteArray bytes;
    bytes.resize(text.size() + 2 * (text.count(u'\n') + 1));
    SaveLinesReader reader(text);
    bytes.truncate(reader.Read(bytes.data(), bytes.size()));
    return bytes;
}

qsizetype SaveLinesReader::Read(char* out, qsizetype capacity) {
    const QChar* in = text_.data();
    const qsizetype size = text_.size();
    qsizetype written = 0;
    while (written < capacity) {
        if (from_ < to_) {
            const qsizetype n = std::min(to_ - from_, capacity - written);
            for (qsizetype i = 0; i < n; ++i) {
                const char16_t u = in[from_ + i].unicode();
                out[written + i] = u < 0x100 ? static_cast<char>(u) : '?';
            }
            from_ += n;
            written += n;
            continue;
        }
        if (ending_ > 0) {
            out[written++] = ending_ == 2 ? '\r' : '\n';
            --ending_;
            continue;
        }
        if (next_ >= size) break;

        // The next line: up to and with its LF, or to the end of the text.
        const qsizetype start = next_;
        const qsizetype lineFeed = text_.indexOf(u'\n', start);
        const qsizetype end = lineFeed < 0 ? size : lineFeed + 1;
        qsizetype last = end;
        while (last > start && (in[last - 1] == u'\r' || in[last - 1] == u'\n'))
            --last;
        qsizetype first = start;
        while (first < last && in[first] == u' ')
            ++first;
        while (last > first && in[last - 1] == u' ')
            --last;
        from_ = first;
        to_ = last;
        ending_ = 2;
        next_ = end;
    }
    return written;
}

QString FileFailureText(const QString& lead, const QString& path, int number,
                        const QString& description) {
    return lead + path + QStringLiteral("\r\nErr: ") + QString::number(number) +
           QStringLiteral(" - ") + description;
}
