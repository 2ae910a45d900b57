#pragma once
// Answers the program's modal windows from a script, so no test ever blocks on one.

#include "Dialogs.h"

#include <QQueue>
#include <QStringList>
#include <functional>

class TestDialogs : public Dialogs {
public:
    struct Shown {
        QString text;
        Icon icon;
    };

    void Message(QWidget*, const QString& text, Icon icon) override { messages.append({text, icon}); }

    Answer SaveOrDiscard(QWidget*, const QString& text) override {
        questions.append(text);
        if (whileQuestionOpen) whileQuestionOpen();
        return questionAnswers.isEmpty() ? Answer::Discard : questionAnswers.dequeue();
    }

    QString SaveFileName(QWidget*, const SaveRequest& request) override {
        saveRequests.append(request);
        // Runs while the dialog would be open: a real one runs a nested event loop, so timers,
        // port events and the link check go on meanwhile.
        if (whileSaveDialogOpen) whileSaveDialogOpen();
        return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
    }

    QList<Shown> messages;
    QStringList questions;
    QQueue<Answer> questionAnswers; // none queued: Discard
    std::function<void()> whileQuestionOpen;
    QList<SaveRequest> saveRequests;
    QQueue<QString> saveAnswers; // empty text: the user cancels
    std::function<void()> whileSaveDialogOpen;
};
