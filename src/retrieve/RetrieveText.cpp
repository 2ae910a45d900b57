#include "RetrieveText.h"

QString ConvertLineEnds(QStringView text) {
    const qsizetype lastPair = text.lastIndexOf(u"\r\n");
    if (lastPair < 0) return QString();

    // Everything before the last pair's CR, less the CR of each pair. Pairs never overlap (an
    // LF is not a CR), so one pass decides every character by its successor.
    QString converted;
    converted.resize(lastPair);
    QChar* out = converted.data();
    const QChar* in = text.data();
    for (qsizetype i = 0; i < lastPair; ++i) {
        if (in[i] == u'\r' && in[i + 1] == u'\n') continue;
        *out++ = in[i];
    }
    converted.truncate(out - converted.constData());
    return converted;
}

QByteArray SaveLines(QStringView text) {
    const qsizetype size = text.size();
    // Each line grows by at most its CR LF; the last may lack a line feed of its own.
    const qsizetype lines = text.count(u'\n') + 1;
    QByteArray bytes;
    bytes.resize(size + 2 * lines);
    char* out = bytes.data();
    const QChar* in = text.data();

    qsizetype start = 0;
    while (start < size) {
        const qsizetype lineFeed = text.indexOf(u'\n', start);
        const qsizetype end = lineFeed < 0 ? size : lineFeed + 1;

        qsizetype last = end;
        while (last > start && (in[last - 1] == u'\r' || in[last - 1] == u'\n'))
            --last;
        qsizetype first = start;
        while (first < last && in[first] == u' ')
            ++first;
        while (last > first && in[last - 1] == u' ')
            --last;

        for (qsizetype i = first; i < last; ++i) {
            const char16_t u = in[i].unicode();
            *out++ = u < 0x100 ? static_cast<char>(u) : '?';
        }
        *out++ = '\r';
        *out++ = '\n';
        start = end;
    }
    bytes.truncate(out - bytes.constData());
    return bytes;
}

QString FileFailureText(const QString& lead, const QString& path, int number,
                        const QString& description) {
    return lead + path + QStringLiteral("\r\nErr: ") + QString::number(number) +
           QStringLiteral(" - ") + description;
}
