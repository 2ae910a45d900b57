#pragma once
// The retrieval window: the working window once the device has identified itself. From it
// the user downloads one kind of stored data, reads it, saves it, or ends the program. It
// reaches the device only through the link.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

class modMain;
class Dialogs;
class RichTextBox;
class PushButton;
class QLabel;

class frmMain : public QWidget {
    Q_OBJECT
public:
    frmMain(modMain& link, Dialogs& dialogs, QWidget* parent = nullptr);
    ~frmMain() override;

    // Shows the identity, "Ready", empties the text box and starts the link check.
    void FillForm();

    // Text the link received while streaming: inserted at the caret, caret to the end.
    void AppendReceived(const QString& text);

    // The button array: indexes 0, 1, 2, 3, 5 and 6 (there is no 4). nullptr elsewhere.
    PushButton* cmd(int index) const;
    // What a click on the button with this index does; any other index does nothing.
    void cmd_Click(int index);

    RichTextBox* txt = nullptr;
    QLabel* XPLabel301 = nullptr;
    QLabel* lblId = nullptr;
    QLabel* XPLabel303 = nullptr;
    QLabel* lblStatus = nullptr;
    QTimer& timComm; // the link's link check

    // The status line's texts.
    static const QString StatusWorking;
    static const QString StatusReady;
    static const QString StatusLoading;
    static const QString StatusReceived;
    static const QString StatusNoReply;
    static const QString StatusSaving;
    static const QString StatusSaved;
    static const QString StatusSaveFailed;

    // The link check gave the device up. A download not yet saved is offered to the user
    // first, through the window's own save, before the window goes. False when no search may
    // start now: the program ended meanwhile, or the question is already open (the call that
    // opened it goes on to the search).
    bool KeepDownloadBeforeSearch();

    // The index of a click that waits for the link to finish an exchange; -1: none.
    int HeldClick() const { return heldClick_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void EnableButtons(bool on);
    void Dispatch(int index);
    void HoldClick(int index);
    void RunHeldClick();
    void RetrieveData(const QString& letter);
    void ConvertLineEnds();
    void SaveCommand();
    void SaveData(const QString& path, const QString& text);
    void ExitSequence();
    void SignOff();

    modMain& link_;
    Dialogs& dialogs_;
    std::array<PushButton*, 7> cmd_{};
    int heldClick_ = -1;
    bool lateTextNeedsBreak_ = false; // a download has just been rewritten
    bool placed_ = false;
    bool leaving_ = false; // the exit or close sequence has begun
    bool unsaved_ = false; // the text box holds a download no save has written yet
    bool asking_ = false;  // the question before the window goes is open
    bool choosingFile_ = false; // the save dialog is open
    // Where switching the buttons off took the focus from, and where it went.
    QPointer<QWidget> focusGivenBack_;
    QPointer<QWidget> focusMovedTo_;
};
