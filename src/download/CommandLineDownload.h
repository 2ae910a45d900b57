#pragma once
// A download with no window: `rzt --download KIND --output FILE`. It finds the device as the
// search window does, downloads as the retrieval window does and saves as "&Save" does, through
// the same routines; where the windows would show something it writes a line on standard error.
// It is the link's windows (LinkWindows) for the length of one run.

#include "LinkWindows.h"
#include "OutputTarget.h"
#include "search/PortAccess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

class modMain;
class PortSource;

// The exit statuses of a download from the command line.
namespace DownloadStatus {
inline constexpr int Saved = 0;
inline constexpr int WrongOption = 1;
inline constexpr int NotFound = 2;    // no device found, or none identified, within the wait
inline constexpr int NoReply = 3;     // the device did not answer the download, or the run
                                      // outlasted its bound
inline constexpr int NotWritten = 4;  // the file could not be written
inline constexpr int PortBusy = 5;    // another program holds the port
inline constexpr int Interrupted = 130;
} // namespace DownloadStatus

struct DownloadRequest {
    QString letter;           // "T", "R", "C" or "A"
    QString output;           // a file, or "-" for standard output
    double waitSeconds = 60;  // for the device to be found and to answer; 0: for ever
    // The whole run, search and download; 0: no bound. A device or a noisy line that never
    // goes quiet would otherwise keep the run, and its port, for ever. An hour is over five
    // times the longest download: 9999 readings of each kind (the device numbers them with
    // four digits) are about 1.23 MB, 11 minutes at 1920 bytes/s.
    double limitSeconds = 3600;
};

// The request for KIND ("timer", "rpm", "chronograph", "all"), the output, the wait and the
// bound as given on the command line (`waitText`, `limitText` not given: the default). False
// with the reason in *error when one of them is not right.
bool MakeDownloadRequest(const QString& kind, const QString& output,
                         const std::optional<QString>& waitText,
                         const std::optional<QString>& limitText, DownloadRequest* request,
                         QString* error);

// Bytes received and the rate, on standard error: one line redrawn in place while data comes
// when it is a terminal, and a single summary line at the end otherwise.
class DownloadProgress {
public:
    explicit DownloadProgress(std::FILE* out);
    void Add(qsizetype bytes);
    // Ends with the summary: "Data Received" (or, cut short, "Loading Data"), the bytes, the time
    // and the rate.
    void Finish(bool complete);

private:
    QString Line(bool done) const;
    void Draw(bool done);

    std::FILE* out_;
    bool terminal_;
    bool started_ = false;
    qint64 bytes_ = 0;
    QElapsedTimer clock_;
    qint64 lastDrawMs_ = -1;
    qint64 lastMs_ = 0;
    int drawnWidth_ = 0;
};

class CommandLineDownload : public QObject, public LinkWindows {
public:
    // `ports`: where candidate ports come from; nullptr: the platform's own, as in the window.
    CommandLineDownload(modMain& link, DownloadRequest request, std::unique_ptr<PortSource> ports);
    ~CommandLineDownload() override;

    // The whole run: search, download, sign-off, save. Returns the exit status.
    int Run();
    // Ctrl+C or a request to terminate: whatever runs unwinds, nothing is saved, the port is
    // closed. Once the file is being written, the writing finishes (the file is whole or
    // untouched either way).
    void Interrupt();

    // What the link asks of its windows.
    void ShowIdentity(const QString& identity) override;
    void FinishSearch() override;
    void AppendReceived(const QString& text) override;
    void LinkLost() override;

private:
    int Search();
    void BeginSearch();
    void SearchTick();
    int Download();
    int Save(const QString& text);
    // What --output names, looked at now (nothing to look at for standard output).
    OutputTarget Output() const;
    // Says why --output cannot be saved to, when it cannot.
    bool OutputRefused(const OutputTarget& target) const;
    void Say(const QString& line) const;
    void EndSearch(int status);
    void Unwind(bool timedOut);
    int Unwound() const;

    modMain& link_;
    DownloadRequest request_;
    std::unique_ptr<PortSource> ports_;
    QEventLoop searchLoop_;
    QTimer tick_;     // the search's scan, as the window's
    QTimer deadline_; // --wait
    QTimer limit_;    // --max-time
    bool timedOut_ = false;
    int searchStatus_ = -1;
    bool identified_ = false;
    bool saving_ = false;
    QStringList deniedSeen_;
    RefusedPortsHint hint_;
    QString portShown_;
    QString text_; // the download, as the retrieval window's text box would hold it
    bool collecting_ = false;
    std::unique_ptr<DownloadProgress> progress_;
};

// The program's arguments as typed. On Windows `argv` holds them in the ANSI code page, which
// turns a name outside it (C:\Users\Łukasz, a Chinese folder) into question marks; the
// command line itself is Unicode.
QStringList CommandLineArguments(int argc, char* argv[]);

// Writes a message to standard error or output so that it reads right where it lands: on a
// Windows console as Unicode (the console shows the OEM code page, not the ANSI one), redirected
// on Windows as UTF-8, elsewhere in the locale's encoding.
void WriteText(std::FILE* stream, const QString& text);

// Windows: a program built for the desktop has no console of its own; it attaches to the console
// of the program that started it (cmd, PowerShell), for Ctrl+C and for whichever standard streams
// were not handed to it already. Nothing to do elsewhere.
void UseParentConsole();

// Calls `interrupt` from the event loop on Ctrl+C, SIGINT, SIGTERM and SIGHUP (Ctrl+C and Ctrl+Break on
// Windows). A closed pipe on standard output shows as a failed write, not as a signal.
void CallOnInterrupt(QObject* context, std::function<void()> interrupt);
