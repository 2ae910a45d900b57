#pragma once
// The search window: the window the program starts in. It watches for the device's port,
// asks the device to identify itself and hands over to the retrieval window. After the
// hand-over it is hidden, never closed.

#include "LinkWindows.h"
#include "PortCandidates.h"
#include "search/PortAccess.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <memory>

class modMain;
class Dialogs;
class SingleInstance;
class RichTextBox;
class PushButton;
class BusyIndicator;
class QLabel;
class frmInfo;
class frmMain;

class frmFind : public QWidget, public LinkWindows {
    Q_OBJECT
public:
    frmFind(modMain& link, Dialogs& dialogs, QWidget* parent = nullptr);
    ~frmFind() override;

    // The start-up steps. False when another instance already runs: the user has been told
    // and the program must end without showing anything.
    bool Load(SingleInstance* instance);

    // Resets the window and starts watching for the device; works shown or hidden.
    void BeginSearch();

    // Where candidate ports come from (by default the platform's FTDI converters).
    void SetPortSource(std::unique_ptr<PortSource> source);

    // Rebuilds PortList from the candidate source. A scan that finds nothing keeps the earlier
    // list only where names stay with their converter (COM numbers).
    void ScanUsbPorts();
    // A port has opened: show it, tell the user what to press, and start asking the device.
    void ShowPortFound();
    // The device has answered: "Device Found", a second's pause, then the retrieval window.
    void FinishSearch() override;

    // The rest of what the link asks of the windows.
    void ShowIdentity(const QString& identity) override;
    void AppendReceived(const QString& text) override;
    void LinkLost() override;

    // The about window, while it is open.
    frmInfo* AboutWindow() const;
    // The retrieval window, once it has been created.
    frmMain* RetrievalWindow() const { return main_.get(); }

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
    QTimer& timID; // the link's ID probe

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
    void ShowPortsDenied(const QStringList& ports);
    void FitPortLabel();

    modMain& link_;
    Dialogs& dialogs_;
    QPointer<frmInfo> about_;
    std::unique_ptr<frmMain> main_;
    std::unique_ptr<PortSource> ports_;
    RefusedPortsHint hint_;
};
