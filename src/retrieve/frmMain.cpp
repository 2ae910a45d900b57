#include "frmMain.h"

#include "Accessibility.h"
#include "Artwork.h"
#include "Dialogs.h"
#include "Download.h"
#include "FixedWindow.h"
#include "Labels.h"
#include "PushButton.h"
#include "RetrieveText.h"
#include "RichTextBox.h"
#include "SaveFile.h"
#include "SaveDownload.h"
#include "SavedFolder.h"
#include "TextHelpers.h"
#include "Twips.h"
#include "clsReg.h"
#include "modMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <memory>

const QString frmMain::StatusWorking = QStringLiteral("Working...");
const QString frmMain::StatusReady = QStringLiteral("Ready");
const QString frmMain::StatusLoading = QStringLiteral("Loading Data");
const QString frmMain::StatusReceived = QStringLiteral("Data Received");
const QString frmMain::StatusNoReply = QStringLiteral("Unable to Receive Data");
const QString frmMain::StatusSaving = QStringLiteral("Saving Data");
const QString frmMain::StatusSaved = QStringLiteral("Save Data Complete");
const QString frmMain::StatusSaveFailed = QStringLiteral("Errors will Saving Data");

namespace {

constexpr int SaveIndex = 5;
constexpr int ExitIndex = 6;


struct ButtonPlace {
    int index;
    const char* caption;
    const char* icon;
    int left, top, width, height; // twips
};

constexpr ButtonPlace Buttons[] = {
    {0, "&Timer Only", Art::Data, 135, 45, 1935, 405},
    {1, "&RPM Only", Art::Data, 2115, 45, 1935, 405},
    {2, "&Chronograph Only", Art::Data, 4095, 45, 1935, 405},
    {3, "&All Data", Art::Data, 6075, 45, 1935, 405},
    {5, "&Save", Art::Save, 6810, 4320, 1275, 405},
    {6, "&Exit", Art::Exit, 6810, 4770, 1275, 405},
};

// The request letter of each data button.
QString RequestLetter(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("T");
    case 1:
        return QStringLiteral("R");
    case 2:
        return QStringLiteral("C");
    case 3:
        return QStringLiteral("A");
    default:
        return QString();
    }
}

} // namespace

frmMain::frmMain(modMain& link, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), timComm(link.timComm), link_(link), dialogs_(dialogs) {
    InitArtwork();
    setWindowIcon(ProgramIcon());
    MakeFixedDialog(this, 8145, 5220);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    CreateControls();
    setWindowTitle(QStringLiteral("ZORV - RZT Software / Retrive Data  -  Version ") +
                   ProgramVersionText());

    // A click held back during a link check's exchange runs once the link is free. Queued, so
    // that it runs from the event loop after the link check has finished its step, never in
    // the middle of it.
    connect(&link_, &modMain::exchangeFinished, this, &frmMain::RunHeldClick, Qt::QueuedConnection);
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
    for (const ButtonPlace& place : Buttons) {
        auto* button = new PushButton(QString::fromLatin1(place.caption),
                                      QString::fromLatin1(place.icon), this);
        button->setGeometry(TwipsRect(place.left, place.top, place.width, place.height));
        const int index = place.index;
        connect(button, &QPushButton::clicked, this, [this, index] { cmd_Click(index); });
        cmd_[static_cast<std::size_t>(index)] = button;
    }

    txt = new RichTextBox(this, RichTextBox::Display::Plain);
    txt->setGeometry(TwipsRect(60, 510, 8025, 3735));

    XPLabel301 = MakeCaptionLabel(QStringLiteral("Product ID:"), this);
    XPLabel301->setGeometry(TwipsRect(60, 4410, 1095, 255));
    lblId = MakeValueLabel(QString(), false, this);
    lblId->setGeometry(TwipsRect(1140, 4410, 5595, 255));
    TieCaption(XPLabel301, lblId);

    XPLabel303 = MakeCaptionLabel(QStringLiteral("Status:"), this);
    XPLabel303->setGeometry(TwipsRect(60, 4860, 1095, 255));
    lblStatus = MakeValueLabel(StatusWorking, false, this);
    lblStatus->setGeometry(TwipsRect(1140, 4860, 5595, 255));
    TieCaption(XPLabel303, lblStatus);
    // Every change of the status line is told to a screen reader, wherever the focus is.
    GiveAccessibleRole(lblStatus, QAccessible::StatusBar);

    // The order the window is read in: the data buttons from left to right, the text below
    // them, then Save and Exit.
    setTabOrder(cmd(0), cmd(1));
    setTabOrder(cmd(1), cmd(2));
    setTabOrder(cmd(2), cmd(3));
    setTabOrder(cmd(3), txt);
    setTabOrder(txt, cmd(5));
    setTabOrder(cmd(5), cmd(6));
}

PushButton* frmMain::cmd(int index) const {
    if (index < 0 || index >= static_cast<int>(cmd_.size())) return nullptr;
    return cmd_[static_cast<std::size_t>(index)];
}

void frmMain::showEvent(QShowEvent* event) {
    // Centred when first shown; after a renewed search it comes back where the user left it.
    if (!placed_ && !event->spontaneous()) {
        placed_ = true;
        CentreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void frmMain::FillForm() {
    if (link_.Ending()) return;
    // A click held back before the link was lost belongs to the old connection.
    heldClick_ = -1;
    lateTextNeedsBreak_ = false;
    unsaved_ = false;
    lblId->setText(link_.PortId);
    lblStatus->setText(StatusReady);
    txt->Clear();
    EnableButtons(true);
    // A window shown for the first time, or again after a new search, starts at its first
    // button unless the user had left the focus on another of its controls.
    QWidget* focus = focusWidget();
    if (!focus || !focus->isVisible() || !focus->isEnabled()) cmd(0)->setFocus();
    timComm.start();
}

void frmMain::AppendReceived(const QString& text) {
    if (link_.Ending() || text.isEmpty()) return;
    // Always at the end: after a download the caret rests at offset 1, and text that comes
    // later must follow the data, not split its first line.
    txt->SetSelStart(static_cast<int>(txt->Text().size()));
    // The rewritten download ends without a line break: text that comes after it must not
    // become the end of its last line, on screen or in the saved file.
    if (lateTextNeedsBreak_) {
        lateTextNeedsBreak_ = false;
        const QString& shown = txt->Text();
        if (!shown.isEmpty() && !shown.endsWith(QLatin1Char('\n'))) {
            txt->SetSelText(QStringLiteral("\n") + text);
            return;
        }
    }
    txt->SetSelText(text);
}

void frmMain::EnableButtons(bool on) {
    QWidget* before = focusWidget();
    for (PushButton* button : cmd_) {
        if (button) button->setEnabled(on);
    }
    if (!on) {
        // Switching off the button that has the focus moves the focus on to the next control
        // that takes it; remember where it was, to give it back.
        if (before && before != focusWidget()) {
            focusGivenBack_ = before;
            focusMovedTo_ = focusWidget();
        }
        return;
    }
    // Back where the user left it, unless the user has moved it on meanwhile.
    if (focusGivenBack_ && focusGivenBack_->isEnabled() && focusGivenBack_->isVisible() &&
        focusWidget() == focusMovedTo_.data())
        focusGivenBack_->setFocus();
    focusGivenBack_.clear();
    focusMovedTo_.clear();
}

void frmMain::cmd_Click(int index) {
    // While the device-lost question is open the window is on its way out: its save runs only
    // as the answer to it.
    if (!cmd(index) || link_.Ending() || leaving_ || asking_) return;
    // A link check's exchange is under way and its pause let this click in. Starting a
    // download or the sign-off now would put a second exchange on the link; wait for its end.
    // Saving does not talk to the device, and holding it could lose the download with the
    // device: it runs at once.
    if (link_.ExchangeBusy() && index != SaveIndex) {
        HoldClick(index);
        return;
    }
    Dispatch(index);
}

void frmMain::Dispatch(int index) {
    switch (index) {
    case 0:
    case 1:
    case 2:
    case 3:
        RetrieveData(RequestLetter(index));
        break;
    case SaveIndex:
        SaveCommand();
        break;
    case ExitIndex:
        ExitSequence();
        break;
    default:
        break;
    }
}

void frmMain::HoldClick(int index) {
    if (heldClick_ >= 0) return;
    heldClick_ = index;
    // As during a download: the command is on its way, so no second one can be asked for.
    EnableButtons(false);
}

void frmMain::RunHeldClick() {
    if (heldClick_ < 0) return;
    if (link_.ExchangeBusy()) return; // the link check went on to its second probe
    const int index = heldClick_;
    heldClick_ = -1;
    EnableButtons(true);
    if (link_.Ending()) return;
    // The user asked to leave, whatever the link check found; the sign-off tells the device
    // only while the port is still open.
    if (index == ExitIndex) {
        ExitSequence();
        return;
    }
    // The link check may have given the device up meanwhile: the window is gone and a new
    // search runs, so a download has nothing left to act on.
    if (!isVisible() || link_.PortSearching) return;
    Dispatch(index);
}

void frmMain::RetrieveData(const QString& letter) {
    EnableButtons(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lblStatus->setText(StatusLoading);
    timComm.stop();
    txt->Clear();
    lateTextNeedsBreak_ = false;
    unsaved_ = false;

    const DownloadEnd end =
        DownloadData(link_, letter, [this](const QString& reply) { txt->SetSelText(reply); });
    if (end == DownloadEnd::NoReply) {
        lblStatus->setText(StatusNoReply);
    } else if (end == DownloadEnd::Received) {
        ConvertLineEnds();
        lateTextNeedsBreak_ = true;
        unsaved_ = true;
        lblStatus->setText(StatusReceived);
    }

    if (!link_.Ending()) timComm.start();
    QApplication::restoreOverrideCursor();
    EnableButtons(true);
}

void frmMain::ConvertLineEnds() {
    // The box lets go of its buffer first, so the rewrite works inside it instead of on a copy.
    QString text = txt->Text();
    txt->Clear();
    ::ConvertLineEndsInPlace(text);
    txt->SetText(std::move(text));
    txt->SetSelStart(1); // clamped to 0 when nothing is left
}

void frmMain::SaveCommand() {
    if (txt->Text().isEmpty()) {
        dialogs_.Message(this, QStringLiteral("You have not selected any data to Save!"),
                         Dialogs::Icon::Information);
        return;
    }
    if (!link_.Reg) link_.Reg = std::make_unique<clsReg>();
    const QString folder = ReadSavedFolder(*link_.Reg);

    Dialogs::SaveRequest request;
    request.title = QStringLiteral("Save to Text File");
    request.initialFolder = folder;
    request.filter = QStringLiteral("Excel (*.csv)|*.csv|Text (*.txt)|*.txt");
    request.filterIndex = 1;
    request.defaultSuffix = QStringLiteral("csv");
    request.confirmOverwrite = true;
    // What is saved is what was shown when the user asked to save it. The link check goes on
    // while the dialog is open: a device given up meanwhile starts the search, and one found
    // again empties the text box for the next download before the user has chosen the file.
    const QString shown = txt->Text();
    QString path;
    {
        const QScopedValueRollback choosing(choosingFile_, true);
        path = dialogs_.SaveFileName(this, request);
    }
    if (link_.Ending() || path.isEmpty()) return;

    // The dialog answers with "/" on every platform; the user reads the path, in the messages
    // and later in the registry, with the system's own separators.
    SaveData(QDir::toNativeSeparators(path), shown);
    // Remembered whatever the outcome: the user chose that folder.
    RememberSavedFolder(*link_.Reg, path);
}

void frmMain::SaveData(const QString& path, const QString& text) {
    lblStatus->setText(StatusSaving);
    // Events run while the file is written: no second command and no link check meanwhile.
    EnableButtons(false);
    const bool checking = timComm.isActive();
    timComm.stop();
    const SaveOutcome outcome = WriteSaveFile(path, text);
    // Text that streams in after the download does not make it unsaved again: the download
    // is what the user saved.
    if (outcome.Ok()) unsaved_ = false;
    if (!link_.Ending()) {
        if (checking) timComm.start();
        EnableButtons(true);
    }
    if (!outcome.Ok())
        dialogs_.Message(this, SaveFailureText(outcome, path), Dialogs::Icon::Critical);
    if (link_.Ending()) return;
    lblStatus->setText(outcome.Ok() ? StatusSaved : StatusSaveFailed);
}

bool frmMain::KeepDownloadBeforeSearch() {
    if (asking_ || link_.Ending()) return false;
    // With the save dialog already open the user is saving: that save goes on as it would.
    if (!unsaved_ || leaving_ || choosingFile_ || !isVisible() || txt->Text().isEmpty())
        return true;
    // The link check has stopped and the port is closed: nothing runs on the link while the
    // question is open, and the search, which could find the device again and empty the text
    // box, starts only after it.
    const QScopedValueRollback asking(asking_, true);
    const Dialogs::Answer answer = dialogs_.SaveOrDiscard(
        this, QStringLiteral("The RZT device no longer answers. Save the downloaded data?"));
    if (answer == Dialogs::Answer::Save && !link_.Ending() && !leaving_) SaveCommand();
    return !link_.Ending() && !leaving_;
}

// What Exit and the close box share: "X" to the device and the port closed. The sign-off's
// pause lets events run, so from here on clicks and a second close request find the window
// leaving and do nothing, and no link check may put its "?" into the pause.
void frmMain::SignOff() {
    leaving_ = true;
    timComm.stop();
    link_.DisconnectDevice();
}

void frmMain::ExitSequence() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SignOff();
    // A second close, should the first have left the port open; on a closed port it does nothing.
    if (link_.Comm.isOpen()) link_.Comm.close();
    QApplication::restoreOverrideCursor();
    link_.EndProgram();
    hide();
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Never refused. When the program is already ending there is nothing left to tell the device.
    event->accept();
    if (link_.Ending() || leaving_) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SignOff();
    QApplication::restoreOverrideCursor();
    link_.EndProgram();
}
