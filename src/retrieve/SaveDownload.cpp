#include "SaveDownload.h"

#include "RetrieveText.h"

#include <QEventLoop>
#include <QThread>
#include <memory>

SaveOutcome WriteSaveFile(const QString& path, QString text) {
    SaveOutcome outcome;
    QEventLoop loop;
    std::unique_ptr<QThread> writer(QThread::create([&path, &text, &outcome] {
        SaveLinesReader reader(text);
        outcome = WriteWholeFile(
            path, [&reader](char* buffer, qsizetype capacity) { return reader.Read(buffer, capacity); });
    }));
    QObject::connect(writer.get(), &QThread::finished, &loop, &QEventLoop::quit);
    writer->start();
    loop.exec();
    writer->wait();
    return outcome;
}

QString SaveFailureText(const SaveOutcome& outcome, const QString& path) {
    QString lead;
    switch (outcome.failed) {
    case SaveOutcome::Step::Open:
        lead = QStringLiteral("Could not Open ");
        break;
    case SaveOutcome::Step::Write:
        lead = QStringLiteral("Could not write to ");
        break;
    default:
        lead = QStringLiteral("Could not Close ");
        break;
    }
    return FileFailureText(lead, path, outcome.number, outcome.description);
}
