#include "CommandLineDownload.h"

#include "Download.h"
#include "OutputTarget.h"
#include "PortCandidates.h"
#include "modMain.h"
#include "retrieve/RetrieveText.h"
#include "retrieve/SaveDownload.h"
#include "retrieve/SystemError.h"
#include "search/PortAccess.h"
#include "search/PortSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cmath>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int ScanIntervalMs = 250; // the search window's scan

bool IsTerminal(std::FILE* stream) {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(fileno(stream)) != 0;
#endif
}

QString RateText(double bytesPerSecond) {
    if (bytesPerSecond >= 1e6) return QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1e3, 0, 'f', 1);
}

// A failed save as one line: the window's two-line message with its line break made a colon.
QString OneLine(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral(": "));
}

// The saved file's bytes written in place, a block at a time: to standard output, or to a FIFO or
// a device `descriptor` is open on.
SaveOutcome WriteInPlace(int descriptor, const QString& text, qint64* written) {
    QFile out;
    SaveOutcome outcome;
    if (!out.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered,
                  QFileDevice::DontCloseHandle)) {
        outcome.failed = SaveOutcome::Step::Open;
        outcome.number = SystemErrorWriteFault;
        outcome.description = out.errorString();
        return outcome;
    }
    SaveLinesReader reader(text);
    QByteArray buffer(SaveBlockBytes, Qt::Uninitialized);
    for (;;) {
        const qsizetype block = reader.Read(buffer.data(), SaveBlockBytes);
        if (block <= 0) break;
        ClearSystemError();
        if (out.write(buffer.constData(), block) != block) {
            const int number = LastSystemErrorNumber();
            outcome.failed = SaveOutcome::Step::Write;
            outcome.number = number != 0 ? number : SystemErrorWriteFault;
            outcome.description = number != 0 ? SystemErrorText(number) : out.errorString();
            return outcome;
        }
        *written += block;
        if (block < SaveBlockBytes) break;
    }
    return outcome;
}

SaveOutcome WriteStandardOutput(const QString& text, qint64* written) {
    std::fflush(stdout);
#ifdef Q_OS_WIN
    // Text mode would turn every LF of the saved CR LF into a second CR.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return WriteInPlace(fileno(stdout), text, written);
}

// A FIFO or a device is opened as a shell's redirection opens it: never created, never
// truncated, never replaced.
SaveOutcome WriteDirect(const QString& path, const QString& text, qint64* written) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    Q_UNUSED(text);
    Q_UNUSED(written);
    return SaveOutcome();
#else
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        SaveOutcome outcome;
        outcome.failed = SaveOutcome::Step::Open;
        outcome.number = errno;
        outcome.description = SystemErrorText(outcome.number);
        return outcome;
    }
    SaveOutcome outcome = WriteInPlace(descriptor, text, written);
    if (::close(descriptor) != 0 && outcome.Ok()) {
        outcome.failed = SaveOutcome::Step::Close;
        outcome.number = errno;
        outcome.description = SystemErrorText(outcome.number);
    }
    return outcome;
#endif
}

// Seconds as --wait and --max-time take them, 0 meaning no bound; not given: the default. Given
// empty is wrong, not the default: it is what an unset variable in a cron line makes, and the
// default would hide it.
bool ParseSeconds(const QString& option, const std::optional<QString>& given, double* seconds,
                  QString* error) {
    if (!given) return true;
    const QString& text = *given;
    bool ok = false;
    const double value = text.toDouble(&ok);
    // The timers count milliseconds in an int.
    if (!ok || !std::isfinite(value) || value < 0 || value > 2e6) {
        *error = QStringLiteral("%1 takes a number of seconds (0: for ever), not \"%2\"")
                     .arg(option, text);
        return false;
    }
    *seconds = value;
    return true;
}

int Milliseconds(double seconds) {
    return static_cast<int>(std::min(seconds * 1000.0, 2e9));
}

} // namespace

bool MakeDownloadRequest(const QString& kind, const QString& output,
                         const std::optional<QString>& waitText,
                         const std::optional<QString>& limitText, DownloadRequest* request,
                         QString* error) {
    static const QStringList kinds{QStringLiteral("timer"), QStringLiteral("rpm"),
                                   QStringLiteral("chronograph"), QStringLiteral("all")};
    static const QStringList letters{QStringLiteral("T"), QStringLiteral("R"), QStringLiteral("C"),
                                     QStringLiteral("A")};
    const qsizetype index = kinds.indexOf(kind.toLower());
    if (index < 0) {
        *error = QStringLiteral("--download takes timer, rpm, chronograph or all, not \"%1\"").arg(kind);
        return false;
    }
    if (output.isEmpty()) {
        *error = QStringLiteral("--download needs --output FILE (- for standard output)");
        return false;
    }
    DownloadRequest made;
    if (!ParseSeconds(QStringLiteral("--wait"), waitText, &made.waitSeconds, error) ||
        !ParseSeconds(QStringLiteral("--max-time"), limitText, &made.limitSeconds, error))
        return false;
    made.letter = letters.at(index);
    made.output = output;
    *request = made;
    return true;
}

// --- Progress ---

DownloadProgress::DownloadProgress(std::FILE* out) : out_(out), terminal_(IsTerminal(out)) {}

void DownloadProgress::Add(qsizetype bytes) {
    if (!started_) {
        started_ = true;
        clock_.start();
    }
    bytes_ += bytes;
    lastMs_ = clock_.elapsed();
    // Ten redraws a second at most: a fast download brings thousands of chunks.
    if (terminal_ && (lastDrawMs_ < 0 || lastMs_ - lastDrawMs_ >= 100)) {
        lastDrawMs_ = lastMs_;
        Draw(false);
    }
}

QString DownloadProgress::Line(bool done) const {
    const double seconds = static_cast<double>(lastMs_) / 1000.0;
    QString line = (done ? QStringLiteral("rzt: Data Received: %1 bytes")
                         : QStringLiteral("rzt: Loading Data: %1 bytes"))
                       .arg(bytes_);
    if (seconds > 0)
        line += QStringLiteral(" in %1 s, %2").arg(seconds, 0, 'f', 1)
                    .arg(RateText(static_cast<double>(bytes_) / seconds));
    return line;
}

void DownloadProgress::Draw(bool done) {
    const QString line = Line(done);
    // Spaces over what is left of a longer line before: not every console knows "erase line".
    const int pad = std::max(0, drawnWidth_ - static_cast<int>(line.size()));
    WriteText(out_, QLatin1Char('\r') + line + QString(pad, QLatin1Char(' ')));
    drawnWidth_ = static_cast<int>(line.size());
}

void DownloadProgress::Finish(bool complete) {
    if (terminal_) {
        Draw(complete);
        std::fputc('\n', out_);
    } else {
        WriteText(out_, Line(complete) + QLatin1Char('\n'));
    }
    std::fflush(out_);
}

// --- The run ---

CommandLineDownload::CommandLineDownload(modMain& link, DownloadRequest request,
                                         std::unique_ptr<PortSource> ports)
    : link_(link), request_(std::move(request)), ports_(std::move(ports)) {
    tick_.setSingleShot(true);
    tick_.setInterval(ScanIntervalMs);
    connect(&tick_, &QTimer::timeout, this, &CommandLineDownload::SearchTick);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (link_.PortNum.isEmpty())
            Say(QStringLiteral("no RZT device found within %1 s").arg(request_.waitSeconds));
        else
            Say(QStringLiteral("the device on %1 did not identify itself within %2 s")
                    .arg(link_.PortNum)
                    .arg(request_.waitSeconds));
        EndSearch(DownloadStatus::NotFound);
    });
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] { Unwind(true); });
    link_.SetWindows(this);
}

CommandLineDownload::~CommandLineDownload() {
    link_.SetWindows(nullptr);
}

void CommandLineDownload::Say(const QString& line) const {
    WriteText(stderr, QStringLiteral("rzt: ") + line + QLatin1Char('\n'));
}

OutputTarget CommandLineDownload::Output() const {
    return request_.output == QStringLiteral("-") ? OutputTarget() : ExamineOutput(request_.output);
}

bool CommandLineDownload::OutputRefused(const OutputTarget& target) const {
    if (target.refused.Ok()) return false;
    Say(OneLine(SaveFailureText(target.refused, target.subject)));
    return true;
}

int CommandLineDownload::Run() {
    // Before the device is asked for anything: a download that cannot be saved is not begun.
    if (OutputRefused(Output())) return DownloadStatus::NotWritten;
    if (request_.limitSeconds > 0) limit_.start(Milliseconds(request_.limitSeconds));
    if (!ports_) ports_ = PlatformPortSource(link_);
    const int found = Search();
    if (found != DownloadStatus::Saved) return found;
    return Download();
}

void CommandLineDownload::Interrupt() {
    Unwind(false);
}

// Whatever waits returns, and the run unwinds as it does from Ctrl+C: the device is signed off
// when it was identified, and nothing is saved. A file being written is finished first.
void CommandLineDownload::Unwind(bool timedOut) {
    if (saving_ || link_.Ending()) return;
    timedOut_ = timedOut;
    const int status = timedOut ? DownloadStatus::NoReply : DownloadStatus::Interrupted;
    link_.EndProgram(status);
    EndSearch(status);
}

int CommandLineDownload::Unwound() const {
    if (timedOut_) {
        Say(QStringLiteral("the run did not end within %1 s (--max-time): nothing saved")
                .arg(request_.limitSeconds));
        return DownloadStatus::NoReply;
    }
    Say(QStringLiteral("interrupted: nothing saved"));
    return DownloadStatus::Interrupted;
}

void CommandLineDownload::EndSearch(int status) {
    if (searchStatus_ >= 0) return;
    searchStatus_ = status;
    tick_.stop();
    deadline_.stop();
    searchLoop_.quit();
}

int CommandLineDownload::Search() {
    Say(QStringLiteral("Monitoring USB Ports for RZT Device."));
    BeginSearch();
    if (request_.waitSeconds > 0) deadline_.start(Milliseconds(request_.waitSeconds));
    if (searchStatus_ < 0) searchLoop_.exec();

    if (searchStatus_ == DownloadStatus::Saved && !link_.Ending()) {
        Say(QStringLiteral("Device Found: ") + link_.PortId);
        return DownloadStatus::Saved;
    }
    // As Exit does while searching: the probes stop and the port closes, nothing is sent.
    link_.timID.stop();
    if (link_.Comm.isOpen()) link_.Comm.close();
    if (link_.Ending()) return Unwound();
    return searchStatus_;
}

void CommandLineDownload::BeginSearch() {
    link_.PortSearching = true;
    link_.PortNum.clear();
    deniedSeen_.clear();
    hint_.Reset();
    portShown_.clear();
    tick_.start();
}

void CommandLineDownload::SearchTick() {
    if (link_.Ending() || searchStatus_ >= 0) return;
    link_.PortNum.clear();
    ScanPorts(link_, *ports_);
    link_.OpenFirstPort();
    if (!link_.PortNum.isEmpty()) {
        if (portShown_ != link_.PortNum) {
            portShown_ = link_.PortNum;
            Say(QStringLiteral("The RZT Device was found on Port # ") + PortLabel(link_.PortNum) +
                QStringLiteral("."));
            Say(QStringLiteral("On the RZT device press the 'OPTN' button and then press 'YES'."));
        }
        link_.timID_Timer();
        return;
    }
    // A port that refuses although this user may open it is held by another program: it will
    // not come free by waiting, and two programs must never share it. A node this user lacks
    // the rights to gets the search window's hint, and the search goes on. Nodes are looked at
    // only when the refusals change.
    const QStringList denied = link_.PortsDenied();
    if (denied != deniedSeen_) {
        deniedSeen_ = denied;
        QStringList refused;
        for (const QString& port : denied) {
            const NodeAccess node = ExamineNode(port);
            if (!node.deviceNode || (node.exists && node.accessError == 0)) {
                Say(QStringLiteral("%1 is in use by another program (another rzt, or a terminal "
                                   "program)").arg(port));
                EndSearch(DownloadStatus::PortBusy);
                return;
            }
            if (Refused(node)) refused << port;
        }
        if (hint_.Update(refused) && !hint_.Text().isEmpty()) Say(hint_.Text().simplified());
    }
    tick_.start();
}

void CommandLineDownload::ShowIdentity(const QString&) {
    // Shown once the identification has settled: later lines may still renew it.
}

void CommandLineDownload::FinishSearch() {
    if (searchStatus_ >= 0) return;
    deadline_.stop();
    if (!SettleIdentification(link_)) return;
    EndSearch(DownloadStatus::Saved);
}

void CommandLineDownload::LinkLost() {
    // The port went away while the device was being asked who it is: search again, as the
    // search window does.
    if (searchStatus_ >= 0) return;
    link_.timID.stop();
    BeginSearch();
}

void CommandLineDownload::AppendReceived(const QString& text) {
    if (!collecting_ || text.isEmpty()) return;
    text_ += text;
    progress_->Add(text.size());
}

int CommandLineDownload::Download() {
    text_.clear();
    progress_ = std::make_unique<DownloadProgress>(stderr);
    collecting_ = true;
    const DownloadEnd end = DownloadData(link_, request_.letter, [this](const QString& reply) {
        text_ = reply;
        progress_->Add(reply.size());
    });
    collecting_ = false;
    // A port that went away during the download leaves it cut short.
    const bool portLost = end == DownloadEnd::Received && !link_.Comm.isOpen();
    if (end != DownloadEnd::NoReply) progress_->Finish(end == DownloadEnd::Received && !portLost);
    // As leaving the retrieval window does, whatever the outcome.
    link_.DisconnectDevice();
    if (link_.Comm.isOpen()) link_.Comm.close();

    // Ctrl+C or the bound during the sign-off too: nothing has been written yet.
    if (link_.Ending()) return Unwound();
    switch (end) {
    case DownloadEnd::Ending:
        return Unwound();
    case DownloadEnd::NoReply:
        Say(QStringLiteral("Unable to Receive Data"));
        return DownloadStatus::NoReply;
    case DownloadEnd::Received:
        break;
    }
    if (portLost) {
        Say(QStringLiteral("Unable to Receive Data: the port %1 went away during the download")
                .arg(link_.PortNum));
        return DownloadStatus::NoReply;
    }
    ConvertLineEndsInPlace(text_);
    if (text_.isEmpty()) {
        Say(QStringLiteral("Unable to Receive Data: the device sent no complete line"));
        return DownloadStatus::NoReply;
    }
    return Save(text_);
}

int CommandLineDownload::Save(const QString& text) {
    // Again: the folder or a planted link may have changed during a long download.
    const OutputTarget target = Output();
    if (OutputRefused(target)) return DownloadStatus::NotWritten;
    saving_ = true;
    SaveOutcome outcome;
    qint64 size = 0;
    QString shownPath;
    if (request_.output == QStringLiteral("-")) {
        shownPath = QStringLiteral("standard output");
        outcome = WriteStandardOutput(text, &size);
    } else if (target.direct) {
        shownPath = QDir::toNativeSeparators(request_.output);
        outcome = WriteDirect(shownPath, text, &size);
    } else {
        // As the window saves: the path in the system's own separators.
        shownPath = QDir::toNativeSeparators(request_.output);
        outcome = WriteSaveFile(shownPath, text);
        if (outcome.Ok()) size = QFileInfo(shownPath).size();
    }
    saving_ = false;
    if (!outcome.Ok()) {
        Say(OneLine(SaveFailureText(outcome, shownPath)));
        return DownloadStatus::NotWritten;
    }
    Say(QStringLiteral("Save Data Complete: %1, %2 bytes").arg(shownPath).arg(size));
    return DownloadStatus::Saved;
}

// --- Console and signals ---

#ifdef Q_OS_WIN
namespace {

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

QObject* interruptContext = nullptr;
std::function<void()> interruptCall;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    // Runs on a thread of its own: the run is told through its event loop.
    if (interruptContext)
        QMetaObject::invokeMethod(interruptContext, [] { interruptCall(); }, Qt::QueuedConnection);
    return TRUE;
}

// Points the stream at the console this program is attached to. Opened for reading too:
// GetConsoleMode needs read access, and without it WriteText would take the console for a file
// and write UTF-8, which the console shows in its own code page.
void ReopenOnConsole(std::FILE* stream) {
    if (std::freopen("CONOUT$", "w+", stream)) std::setvbuf(stream, nullptr, _IONBF, 0);
}

} // namespace

void UseParentConsole() {
    // A redirection (to a file, a pipe) was handed over as it is and stays.
    const bool outGiven = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool errGiven = Usable(GetStdHandle(STD_ERROR_HANDLE));
    // Attached even when both streams were handed over: Ctrl+C at that console reaches only the
    // programs attached to it.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!outGiven) ReopenOnConsole(stdout);
    if (!errGiven) ReopenOnConsole(stderr);
}

QStringList CommandLineArguments(int argc, char* argv[]) {
    QStringList arguments;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) arguments.append(QString::fromWCharArray(wide[i]));
        LocalFree(wide);
        return arguments;
    }
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

void WriteText(std::FILE* stream, const QString& text) {
    std::fflush(stream);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.utf16()),
                      static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // A file or a pipe: no code page of the console's applies, and UTF-8 loses no name.
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void CallOnInterrupt(QObject* context, std::function<void()> interrupt) {
    interruptContext = context;
    interruptCall = std::move(interrupt);
    // A program started in a new process group, or by one that ignores Ctrl+C, inherits the
    // ignoring: take Ctrl+C again, so that it reaches the handler.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
#else
namespace {

int signalSockets[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalSockets[1], &byte, 1);
}

} // namespace

void UseParentConsole() {}

QStringList CommandLineArguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

void WriteText(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void CallOnInterrupt(QObject* context, std::function<void()> interrupt) {
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0) return;
    for (int fd : signalSockets) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto* notifier = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [interrupt = std::move(interrupt)] {
                         char bytes[16];
                         while (::read(signalSockets[0], bytes, sizeof bytes) > 0) {
                         }
                         interrupt();
                     });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A dropped ssh connection: the device is signed off as on Ctrl+C.
    ::sigaction(SIGHUP, &action, nullptr);
}
#endif
