// The retrieval window's text rules: rewriting a download's line ends and the bytes of a saved
// file.

#include "retrieve/RetrieveText.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QString Latin1(const char* bytes, qsizetype size) {
    return QString::fromLatin1(bytes, size);
}

// The rewriting as first written, one pair per round: keep what precedes the pair's CR, go on
// from its LF, drop a remainder without a pair.
QString ConvertByRounds(QString rest) {
    QString result;
    while (!rest.isEmpty()) {
        const qsizetype pair = rest.indexOf(QStringLiteral("\r\n"));
        if (pair < 0) break;
        result += rest.left(pair);
        rest = rest.mid(pair + 1);
    }
    return result;
}

// The save loop as first written: it stops after the first line that is empty once its line
// ends are gone, and never writes what follows the last LF.
QByteArray SaveByOriginalLoop(QString rest) {
    QByteArray bytes;
    for (;;) {
        const qsizetype lineFeed = rest.indexOf(QLatin1Char('\n'));
        if (lineFeed < 0) break;
        QString line = rest.left(lineFeed + 1);
        while (!line.isEmpty() &&
               (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n'))))
            line.chop(1);
        qsizetype first = 0;
        while (first < line.size() && line.at(first) == QLatin1Char(' '))
            ++first;
        qsizetype last = line.size();
        while (last > first && line.at(last - 1) == QLatin1Char(' '))
            --last;
        bytes += line.mid(first, last - first).toLatin1() + "\r\n";
        rest = rest.mid(lineFeed + 1);
        if (line.isEmpty()) break;
    }
    return bytes;
}

QString RandomText(QRandomGenerator& random, int maxLength) {
    static const char16_t alphabet[] = {u'A', u'b', u'\r', u'\n', u' ', u'\t'};
    QString text;
    const int length = static_cast<int>(random.bounded(maxLength + 1));
    for (int i = 0; i < length; ++i)
        text += QChar(alphabet[random.bounded(static_cast<int>(std::size(alphabet)))]);
    return text;
}

} // namespace

class TstRetrieveText : public QObject {
    Q_OBJECT
private slots:
    void convertLineEnds_data();
    void convertLineEnds();
    void convertLineEndsAgreesWithRounds();
    void convertLineEndsOfALargeDownload();
    void saveLines_data();
    void saveLines();
    void saveLinesWritesAtLeastWhatTheOriginalLoopWrote();
};

void TstRetrieveText::convertLineEnds_data() {
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two lines") << "A\r\nB\r\n"
                               << "A\nB";
    QTest::newRow("unfinished last line is dropped") << "A\r\nB"
                                                     << "A";
    QTest::newRow("empty line kept") << "A\r\n\r\nB\r\n"
                                     << "A\n\nB";
    QTest::newRow("leading empty line") << "\r\nA\r\n"
                                        << "\nA";
    QTest::newRow("no pair at all") << "A\nB\rC"
                                    << "";
    QTest::newRow("only a pair") << "\r\n"
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("lone CR and LF stay") << "A\rB\nC\r\nD\r\n"
                                         << "A\rB\nC\nD";
    QTest::newRow("CR before a pair stays") << "A\r\r\nB\r\n"
                                            << "A\r\nB";
    QTest::newRow("LF before a pair stays") << "A\n\r\nB\r\n"
                                            << "A\n\nB";
    QTest::newRow("LF CR is no pair") << "A\n\rB\r\n"
                                      << "A\n\rB";
    QTest::newRow("8-bit and NUL pass through")
        << Latin1("\x00\x80\xA0\xFF,\xE9\r\n\x7F\x00\r\nrest", 16)
        << Latin1("\x00\x80\xA0\xFF,\xE9\n\x7F\x00", 9);
}

void TstRetrieveText::convertLineEnds() {
    QFETCH(QString, received);
    QFETCH(QString, shown);
    QCOMPARE(ConvertLineEnds(received), shown);
}

void TstRetrieveText::convertLineEndsAgreesWithRounds() {
    QRandomGenerator random(20240203);
    for (int i = 0; i < 20000; ++i) {
        const QString text = RandomText(random, 14);
        QCOMPARE(ConvertLineEnds(text), ConvertByRounds(text));
    }
}

void TstRetrieveText::convertLineEndsOfALargeDownload() {
    // 4 MB of device lines, every byte value in them, and an unfinished line at the end.
    QString received;
    received.reserve(4 * 1024 * 1024 + 64);
    QString expected;
    expected.reserve(received.capacity());
    int n = 0;
    while (received.size() < 4 * 1024 * 1024) {
        QString line =
            QStringLiteral("T,%1,02/03/2024,09:14:%2,").arg(n, 4, 10, QLatin1Char('0')).arg(n % 60);
        line += QChar(static_cast<char16_t>(n % 256 == 10 || n % 256 == 13 ? 0 : n % 256));
        if (n > 0) expected += QLatin1Char('\n');
        expected += line;
        received += line + QStringLiteral("\r\n");
        ++n;
    }
    received += QStringLiteral("T,unfinished");
    QCOMPARE(ConvertLineEnds(received), expected);
}

void TstRetrieveText::saveLines_data() {
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("lines after the rewriting") << "A\nB" << QByteArray("A\r\nB\r\n");
    QTest::newRow("text ending in LF: no extra line") << "A\nB\n" << QByteArray("A\r\nB\r\n");
    QTest::newRow("CR LF lines") << "A\r\nB\r\n" << QByteArray("A\r\nB\r\n");
    QTest::newRow("last line without a line end is written")
        << "A\r\nB\r\nC" << QByteArray("A\r\nB\r\nC\r\n");
    QTest::newRow("a single unfinished line") << "only" << QByteArray("only\r\n");
    QTest::newRow("spaces trimmed at both ends") << "  A B  \n" << QByteArray("A B\r\n");
    QTest::newRow("tabs stay") << "\tA\t\n" << QByteArray("\tA\t\r\n");
    QTest::newRow("spaces outside tabs go, inside stay") << " \t A \t \n"
                                                         << QByteArray("\t A \t\r\n");
    QTest::newRow("several line-end characters") << "A\r\r\nB\r\r\r\n" << QByteArray("A\r\nB\r\n");
    QTest::newRow("line of blanks becomes empty, rest follows") << "   \nB\n"
                                                                << QByteArray("\r\nB\r\n");
    QTest::newRow("blank line inside, rest follows") << "A\n\nB\n" << QByteArray("A\r\n\r\nB\r\n");
    QTest::newRow("blank CR LF line inside") << "A\r\n\r\nB\r\n" << QByteArray("A\r\n\r\nB\r\n");
    QTest::newRow("only a line feed") << "\n" << QByteArray("\r\n");
    QTest::newRow("lone CR inside a line stays") << "A\rB\n" << QByteArray("A\rB\r\n");
    QTest::newRow("8-bit and NUL, one byte each")
        << Latin1("\x00\x80\xE9\xFF \n", 6) << QByteArray("\x00\x80\xE9\xFF\r\n", 6);
    QTest::newRow("beyond Latin-1") << QStringLiteral("A\u20ACB\n") << QByteArray("A?B\r\n");
}

void TstRetrieveText::saveLines() {
    QFETCH(QString, shown);
    QFETCH(QByteArray, file);
    QCOMPARE(SaveLines(shown), file);
}

void TstRetrieveText::saveLinesWritesAtLeastWhatTheOriginalLoopWrote() {
    QRandomGenerator random(19200);
    int equal = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString text = RandomText(random, 14);
        const QByteArray mended = SaveLines(text);
        const QByteArray original = SaveByOriginalLoop(text);
        QVERIFY2(mended.startsWith(original), qPrintable(text.toUtf8().toPercentEncoding()));
        // Where the original loop neither stopped early nor left a last line behind, the two agree.
        bool blankInside = false;
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (qsizetype l = 0; l + 1 < lines.size(); ++l) {
            QString line = lines[l];
            while (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            if (line.isEmpty() && l + 2 < lines.size()) blankInside = true;
        }
        if (!blankInside && (text.isEmpty() || text.endsWith(QLatin1Char('\n')))) {
            QCOMPARE(mended, original);
            ++equal;
        }
    }
    QVERIFY(equal > 1000);
}

QTEST_APPLESS_MAIN(TstRetrieveText)
#include "tst_retrieve_text.moc"
