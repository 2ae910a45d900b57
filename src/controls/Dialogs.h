#pragma once
// Every modal window the program opens (message boxes, the file-save dialog) goes through
// this interface, so that tests can answer them from a script and never block.

#include <QString>

class QWidget;

class Dialogs {
public:
    enum class Icon { Information, Critical };
    enum class Answer { Save, Discard };

    struct SaveRequest {
        QString title;
        QString initialFolder;  // empty: the dialog's usual starting folder
        QString filter;         // "Name (*.a)|*.a|Other (*.b)|*.b"
        int filterIndex = 1;    // 1-based, the type selected when the dialog opens
        QString defaultSuffix;  // added to a name typed without one
        bool confirmOverwrite = true;
    };

    virtual ~Dialogs() = default;

    // A modal message box titled "ZORV RZT" with a single OK button.
    virtual void Message(QWidget* parent, const QString& text, Icon icon) = 0;

    // A modal question titled "ZORV RZT" with Save (the default) and Discard. Escape and the
    // close box do not answer it: data is dropped only when the user says so.
    virtual Answer SaveOrDiscard(QWidget* parent, const QString& text) = 0;

    // A modal save dialog; the chosen path, or empty text when the user cancelled.
    virtual QString SaveFileName(QWidget* parent, const SaveRequest& request) = 0;
};

// The real thing: QMessageBox and QFileDialog.
class QtDialogs : public Dialogs {
public:
    void Message(QWidget* parent, const QString& text, Icon icon) override;
    Answer SaveOrDiscard(QWidget* parent, const QString& text) override;
    QString SaveFileName(QWidget* parent, const SaveRequest& request) override;
};

// Title of every message box of the program.
inline constexpr const char* MessageTitle = "ZORV RZT";
