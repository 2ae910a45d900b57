#pragma once
// The search window: the window the program starts in. It watches for the device's port,
// asks the device to identify itself and hands over to the retrieval window. After the
// hand-over it is hidden, never closed.

#include <QPointer>
#include <QTimer>
#include <QWidget>

class modMain;
class Dialogs;
class SingleInstance;
class RichTextBox;
class PushButton;
class BusyIndicator;
class QLabel;
class frmInfo;

class frmFind : public QWidget {
    Q_OBJECT
public:
    frmFind(modMain& link, Dialogs& dialogs, QWidget* parent = nullptr);
    ~frmFind() override;

    // The start-up steps. False when another instance already runs: the user has been told
    // and the program must end without showing anything.
    bool Load(SingleInstance* instance);

    // Resets the window and starts watching for the device; works shown or hidden.
    void BeginSearch();

    // The about window, while it is open.
    frmInfo* AboutWindow() const;

    // Controls, named as on the form.
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label2 = nullptr;
    RichTextBox* txt = nullptr;
    QLabel* XPLabel301 = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* XPLabel303 = nullptr;
    QLabel* lblID = nullptr;
    BusyIndicator* progress = nullptr;
    PushButton* cmdExit = nullptr;
    QLabel* Label3 = nullptr;
    QTimer timUSB;
    QTimer timID;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void timUSB_Timer();
    void cmdExit_Click();
    // Steps shared by Exit and the close box: stop the search, close the port (nothing is
    // sent to the device).
    void StopSearchAndClosePort();
    void Label3_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift);

    modMain& link_;
    Dialogs& dialogs_;
    QPointer<frmInfo> about_;
};
