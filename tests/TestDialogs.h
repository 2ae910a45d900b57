#pragma once
// Answers the program's modal windows from a script, so no test ever blocks on one.

#include "Dialogs.h"

#include <QQueue>
#include <QStringList>

class TestDialogs : public Dialogs {
public:
    struct Shown {
        QString text;
        Icon icon;
    };

    void Message(QWidget*, const QString& text, Icon icon) override { messages.append({text, icon}); }

    QString SaveFileName(QWidget*, const SaveRequest& request) override {
        saveRequests.append(request);
        return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
    }

    QList<Shown> messages;
    QList<SaveRequest> saveRequests;
    QQueue<QString> saveAnswers; // empty text: the user cancels
};
