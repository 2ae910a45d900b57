// The retrieval window's long-text paths: the line-end rewrite done inside the buffer, and the
// saved file's bytes made a block at a time. Each must give exactly what the whole-text
// functions give, for any text and any block size.

#include "retrieve/RetrieveText.h"
#include "retrieve/SaveFile.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString RandomText(QRandomGenerator& random, int maxLength) {
    static const char16_t alphabet[] = {u'A', u'b', u'\r', u'\n', u' ', u'\t', u'\xE9', u'\x2028'};
    QString text;
    const int length = static_cast<int>(random.bounded(maxLength + 1));
    for (int i = 0; i < length; ++i)
        text += QChar(alphabet[random.bounded(static_cast<int>(std::size(alphabet)))]);
    return text;
}

QByteArray ReadInBlocks(QStringView text, qsizetype capacity) {
    SaveLinesReader reader(text);
    QByteArray bytes;
    QByteArray block(capacity, Qt::Uninitialized);
    for (;;) {
        const qsizetype n = reader.Read(block.data(), capacity);
        bytes.append(block.constData(), n);
        if (n < capacity) break;
    }
    // Once at the end it stays there.
    return reader.Read(block.data(), capacity) == 0 ? bytes : QByteArray("<read on>");
}

} // namespace

class TstTextBlocks : public QObject {
    Q_OBJECT
private slots:
    void agreeWithTheWholeText_data();
    void agreeWithTheWholeText();
    void blockSourceWritesEveryByte();
};

void TstTextBlocks::agreeWithTheWholeText_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("no pair") << "A\rB\nC";
    QTest::newRow("pairs and lone ends") << " A \r\n\rB\n\r\nC\r\n D";
    QTest::newRow("pair at the very start") << "\r\nA\r\n";
    QTest::newRow("CR CR LF") << "A\r\r\nB\r\n";
    QTest::newRow("spaces only lines") << "   \r\n \t \r\n";
    QTest::newRow("beyond Latin-1") << QString::fromUtf16(u"\x20AC\r\nx\r\n");
    QRandomGenerator random(20240302);
    for (int i = 0; i < 40; ++i)
        QTest::addRow("random %d", i) << RandomText(random, 300);
    QString long_;
    for (int i = 0; i < 5000; ++i)
        long_ += QStringLiteral("T,%1,02/03/2024, 09:14:10 ,00:31.44,s\r\n").arg(i);
    QTest::newRow("many lines") << long_;
}

void TstTextBlocks::agreeWithTheWholeText() {
    QFETCH(QString, text);
    QString inPlace = text;
    ConvertLineEndsInPlace(inPlace);
    QCOMPARE(inPlace, ConvertLineEnds(text));

    const QByteArray whole = SaveLines(text);
    for (const qsizetype capacity : {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(7),
                                     qsizetype(64), SaveBlockBytes})
        QCOMPARE(ReadInBlocks(text, capacity), whole);
}

void TstTextBlocks::blockSourceWritesEveryByte() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString text;
    for (int i = 0; i < 9000; ++i)
        text += QStringLiteral("R,%1,02/03/2024,10:00:00,%2,RPM\r\n").arg(i).arg(i * 7);
    const QString path = dir.filePath(QStringLiteral("blocks.csv"));
    SaveLinesReader reader(text);
    const SaveOutcome outcome = WriteWholeFile(
        path, [&reader](char* buffer, qsizetype capacity) { return reader.Read(buffer, capacity); });
    QVERIFY(outcome.Ok());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.size() > 3 * SaveBlockBytes);
    QCOMPARE(written, SaveLines(text));
}

QTEST_MAIN(TstTextBlocks)
#include "tst_text_blocks.moc"
