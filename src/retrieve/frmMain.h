#pragma once
// The retrieval window: the working window once the device has identified itself. From it
// the user downloads one kind of stored data, reads it, saves it, or ends the program. It
// reaches the device only through the link.

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void EnableButtons(bool on);
    void RetrieveData(const QString& letter);
    void SaveCommand();
    void SaveData(const QString& path);
    void ExitSequence();

    modMain& link_;
    Dialogs& dialogs_;
    std::array<PushButton*, 7> cmd_{};
};
