#include "frmFind.h"

#include "Accessibility.h"
#include "BusyIndicator.h"
#include "Dialogs.h"
#include "Download.h"
#include "FixedWindow.h"
#include "Labels.h"
#include "PushButton.h"
#include "search/PortAccess.h"
#include "search/PortSearch.h"
#include "RichTextBox.h"
#include "search/SingleInstance.h"
#include "TextHelpers.h"
#include "Twips.h"
#include "about/frmInfo.h"
#include "retrieve/frmMain.h"
#include "clsReg.h"
#include "modMain.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>

namespace {

const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);
const QColor DarkBlue(0, 0, 128);
const QColor Blue(0, 0, 255);
const QString RunFont = QString::fromLatin1(LaidOutFamily);

// One run: the character attributes are set just before the text goes in at the end.
void WriteRun(RichTextBox* box, const QString& text, double points, const QColor& colour,
              bool emphasis) {
    box->SetSelStart(static_cast<int>(box->Text().size()));
    box->SetSelFontName(RunFont);
    box->SetSelFontSize(points);
    box->SetSelColor(colour);
    box->SetSelBold(emphasis);
    box->SetSelText(text);
}

QLabel* MakeHeading(const QString& text, double points, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(ProgramFont(points, true));
    return label;
}

} // namespace

frmFind::frmFind(modMain& link, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), timID(link.timID), link_(link), dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("Device Search"));
    setWindowIcon(QIcon(QStringLiteral(":/art/rzt.png")));
    MakeFixedDialog(this, 6315, 5220);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    CreateControls();

    timUSB.setInterval(250);
    connect(&timUSB, &QTimer::timeout, this, &frmFind::timUSB_Timer);
    link_.SetWindows(this);
}

frmFind::~frmFind() {
    link_.SetWindows(nullptr);
    delete about_.data();
}

void frmFind::SetPortSource(std::unique_ptr<PortSource> source) {
    ports_ = std::move(source);
}

void frmFind::CreateControls() {
    Image1 = new QLabel(this);
    Image1->setGeometry(TwipsRect(1935, 60, 2385, 600));
    Image1->setPixmap(QPixmap(QStringLiteral(":/art/logo.png")));
    Image1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Image1->setAccessibleName(QStringLiteral("ZORV RZT"));

    Label1 = MakeHeading(QStringLiteral("Brantelmoor Timer Software"), 13.5, this);
    Label1->setGeometry(TwipsRect(15, 690, 6285, 345));
    QPalette heading = Label1->palette();
    heading.setColor(QPalette::WindowText, DarkBlue);
    Label1->setPalette(heading);

    lblVersion = MakeHeading(QStringLiteral("Version"), 9.75, this);
    lblVersion->setGeometry(TwipsRect(15, 1080, 6285, 345));

    Label2 = MakeHeading(QStringLiteral("Copyright (C) ZORV RZT. All rights reserved."), 8.25, this);
    Label2->setGeometry(TwipsRect(15, 1380, 6285, 195));

    // The rule runs past both edges of the window, so it spans the whole width.
    auto* Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Line1->setGeometry(0, TwipsToPx(1650) - 1, width(), 2);

    txt = new RichTextBox(this);
    txt->setGeometry(TwipsRect(90, 1740, 6165, 2295));
    connect(txt, &RichTextBox::GotFocus, this, [this] { cmdExit->setFocus(); });

    XPLabel301 = MakeCaptionLabel(QStringLiteral("Port:"), this);
    XPLabel301->setGeometry(TwipsRect(75, 4110, 585, 255));
    lblPort = MakeValueLabel(QString(), true, this);
    lblPort->setGeometry(TwipsRect(705, 4110, 585, 255));
    TieCaption(XPLabel301, lblPort);

    XPLabel303 = MakeCaptionLabel(QStringLiteral("ID:"), this);
    XPLabel303->setGeometry(TwipsRect(75, 4410, 585, 255));
    lblID = MakeValueLabel(QString(), true, this);
    lblID->setGeometry(TwipsRect(705, 4410, 5565, 255));
    TieCaption(XPLabel303, lblID);

    progress = new BusyIndicator(this);
    progress->setGeometry(TwipsRect(2265, 4830, 1845, 255));

    cmdExit = new PushButton(QStringLiteral("&Exit"), QStringLiteral(":/art/exit.png"), this);
    cmdExit->setGeometry(TwipsRect(4995, 4740, 1275, 405));
    connect(cmdExit, &QPushButton::clicked, this, &frmFind::cmdExit_Click);

    Label3 = new QLabel(this);
    Label3->setGeometry(TwipsRect(30, 5010, 165, 195));
    Label3->installEventFilter(this);

    setTabOrder(txt, cmdExit);
}

frmInfo* frmFind::AboutWindow() const {
    return about_.data();
}

bool frmFind::Load(SingleInstance* instance) {
    if (instance && !instance->TryAcquire()) {
        dialogs_.Message(nullptr, QStringLiteral("ZORV RZT Software is already open."),
                         Dialogs::Icon::Information);
        link_.EndProgram();
        return false;
    }
    CentreOnScreen(this);
    show();
    if (!link_.Reg) link_.Reg = std::make_unique<clsReg>();
    if (!ports_) ports_ = PlatformPortSource(link_);
    BeginSearch();
    return true;
}

void frmFind::FitPortLabel() {
    // A COM number fits the field as laid out; a device path ("/dev/ttyUSB0") does not, and the
    // row has room to its right up to the edge of the ID field.
    const QRect laidOut = TwipsRect(705, 4110, 585, 255);
    const int room = TwipsRect(705, 4410, 5565, 255).right() - laidOut.left() + 1;
    const int needed = lblPort->sizeHint().width();
    lblPort->setGeometry(laidOut.adjusted(0, 0, std::clamp(needed - laidOut.width(), 0,
                                                           room - laidOut.width()), 0));
}

void frmFind::BeginSearch() {
    lblPort->clear();
    FitPortLabel();
    lblID->clear();

    const QString version = ProgramVersionText();
    setWindowTitle(QStringLiteral("ZORV - RZT Software / Device Search  -  Version ") + version);
    lblVersion->setText(QStringLiteral("Version ") + version);

    // The indicator's name tells a screen reader the state of the search; a change of it
    // reaches the reader as an event, without the focus moving.
    progress->setAccessibleName(QStringLiteral("Searching for the device"));
    progress->Start();
    cmdExit->setFocus();

    link_.PortSearching = true;
    link_.PortNum.clear();

    hint_.Reset();
    txt->Clear();
    txt->SetSelAlignment(Qt::AlignLeft);
    txt->SetSelIndent(0);
    WriteRun(txt, QStringLiteral("Instructions\r\n"), 14, Red, true);
    txt->SetSelIndent(250);
    WriteRun(txt, QStringLiteral("Monitoring USB Ports for RZT Device.\r\n"), 10, Black, false);
    WriteRun(txt, QStringLiteral("Please turn you device on now and plug it into a USB Port!"), 10,
             Black, false);

    timUSB.start();
}

void frmFind::timUSB_Timer() {
    timUSB.stop();
    modMain::DoEvents();
    if (link_.Ending()) return;
    link_.PortNum.clear();
    ScanUsbPorts();
    link_.OpenFirstPort();
    if (link_.PortNum.isEmpty()) {
        ShowPortsDenied(link_.PortsDenied());
        timUSB.start();
    } else {
        ShowPortFound();
    }
}

void frmFind::ScanUsbPorts() {
    timUSB.stop();
    if (ports_) ScanPorts(link_, *ports_);
}

void frmFind::ShowPortsDenied(const QStringList& ports) {
    // The one thing the search can't get past by itself: a converter is there, but this user
    // may not open its node. Say so, and what lets them in; take it back once no port refuses
    // any more. A port that is only busy refuses too, and will open once the program holding
    // it lets go: nothing to say.
    const QString shown = hint_.Text();
    if (!hint_.Update(ports)) return;
    // The hint is the last run of the instructions while the search watches.
    const int length = static_cast<int>(txt->Text().size());
    if (!shown.isEmpty() && txt->Text().endsWith(shown)) {
        txt->SetSelStart(length - static_cast<int>(shown.size()));
        txt->SetSelLength(static_cast<int>(shown.size()));
        txt->SetSelText(QString());
    }
    if (!hint_.Text().isEmpty()) WriteRun(txt, hint_.Text(), 10, Red, true);
}

void frmFind::ShowPortFound() {
    const QString port = PortLabel(link_.PortNum);
    lblPort->setText(port);
    FitPortLabel();
    lblID->clear();
    txt->Clear();
    txt->SetSelAlignment(Qt::AlignLeft);
    txt->SetSelIndent(0);
    WriteRun(txt, QStringLiteral("Instructions\r\n"), 14, Red, true);
    txt->SetSelIndent(250);
    WriteRun(txt, QStringLiteral("The RZT Device was found on"), 10, Black, false);
    WriteRun(txt, QStringLiteral(" Port # ") + port + QStringLiteral(".\r\n\r\n"), 10, Black, true);
    WriteRun(txt,
             QStringLiteral("On the RZT device press the 'OPTN' button and then press 'YES'.\r\n"),
             10, Black, false);
    WriteRun(txt,
             QStringLiteral(
                 "If you don't get a connection, exit the software and try again.\r\n\r\n"),
             10, Black, false);
    WriteRun(txt, QStringLiteral("Do not disconnect the device until you exit the software."), 10,
             Red, true);
    progress->setAccessibleName(QStringLiteral("Waiting for the device to answer"));
    link_.timID_Timer();
}

void frmFind::ShowIdentity(const QString& identity) {
    lblID->setText(identity);
}

void frmFind::FinishSearch() {
    txt->Clear();
    txt->SetSelAlignment(Qt::AlignHCenter);
    txt->SetSelText(QStringLiteral("\r\n\r\n"));
    WriteRun(txt, QStringLiteral("Device Found\r\n"), 16, Blue, true);
    progress->setAccessibleName(QStringLiteral("Device Found"));
    // Exit during the pause ends the program before the retrieval window is shown.
    if (!SettleIdentification(link_)) return;
    progress->Stop();
    txt->Clear();
    hide();
    if (!main_) {
        main_ = std::make_unique<frmMain>(link_, dialogs_);
        CentreOnScreen(main_.get());
    }
    main_->show();
    main_->FillForm();
    // The keyboard goes on in the window the user now sees, not in the hidden one.
    main_->activateWindow();
}

void frmFind::AppendReceived(const QString& text) {
    if (main_) main_->AppendReceived(text);
}

void frmFind::LinkLost() {
    // Before the window goes: a download the user has not saved is not lost with the device.
    if (main_ && !main_->KeepDownloadBeforeSearch()) return;
    if (main_) main_->hide();
    BeginSearch();
    show();
    activateWindow();
}

void frmFind::StopSearchAndClosePort() {
    timUSB.stop();
    timID.stop();
    modMain::DoEvents();
    if (link_.Comm.isOpen()) link_.Comm.close();
    modMain::DoEvents();
}

void frmFind::cmdExit_Click() {
    StopSearchAndClosePort();
    close(); // runs the close handler, which ends the program
    link_.EndProgram();
}

void frmFind::closeEvent(QCloseEvent* event) {
    StopSearchAndClosePort();
    if (about_) about_->close();
    event->accept();
    link_.EndProgram();
}

bool frmFind::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label3 && event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        Label3_MouseDown(mouse->button(), mouse->modifiers());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmFind::Label3_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift) {
    if (button != Qt::RightButton || shift != Qt::ShiftModifier) return;
    if (!about_) {
        about_ = new frmInfo();
        about_->setAttribute(Qt::WA_DeleteOnClose);
        about_->Load();
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}
