#include "CommandLineDownload.h"
#include "Dialogs.h"
#include "PortCandidates.h"
#include "TextHelpers.h"
#include "modMain.h"
#include "search/SingleInstance.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QCommandLineParser>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <langinfo.h>
#endif

#ifdef RZT_WITH_SIMULATOR
#include "SimDevice.h"
#endif

namespace {

// Qt needs a UTF-8 locale. Given none (cron and system services start programs in the C
// locale) it switches to one itself, but with four lines of warning on every start, which a
// cron job of a download mails to its owner each time. The same switch made before Qt starts
// goes unremarked.
void UseUtf8Locale() {
#ifdef Q_OS_UNIX
    std::setlocale(LC_ALL, "");
    const char* codeset = nl_langinfo(CODESET);
    if (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0) return;
    if (std::setlocale(LC_ALL, "C.UTF-8")) setenv("LC_ALL", "C.UTF-8", 1);
#endif
}

void SetProgramIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("rzt"));
    // No display name: Qt would append it to every window caption, and the captions are the
    // program's own.
    QCoreApplication::setApplicationVersion(ProgramVersionText());
    QCoreApplication::setOrganizationName(QStringLiteral("ZORV"));
}

#ifdef RZT_WITH_SIMULATOR
// The built-in simulated device, plugged in; nullptr when it cannot start (the reason is
// printed).
std::unique_ptr<SimDevice> StartSimulatedDevice() {
    SimConfig config;
    // Answer only after a couple of seconds, as a user pressing 'OPTN' and 'YES' would.
    config.probesBeforeAnswer = 25;
    config.timerData = SimConfig::GeneratedLines('T', 40);
    config.rpmData = SimConfig::GeneratedLines('R', 40);
    config.chronoData = SimConfig::GeneratedLines('C', 40);
    auto simulated = std::make_unique<SimDevice>(config);
    QString error;
    if (!simulated->plug(&error)) {
        std::fprintf(stderr, "rzt: cannot start the simulated device: %s\n", qPrintable(error));
        return nullptr;
    }
    return simulated;
}
#endif

// The options that make a run a download from the command line.
const QStringList DownloadOptionNames{QStringLiteral("download"), QStringLiteral("output"),
                                      QStringLiteral("wait"), QStringLiteral("max-time")};

// An option's value as given, even empty; nothing when it was not given.
std::optional<QString> GivenValue(const QCommandLineParser& parser, const QString& name) {
    if (!parser.isSet(name)) return std::nullopt;
    return parser.value(name);
}

bool AsksForDownload(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        for (const QString& name : DownloadOptionNames) {
            const QString option = QStringLiteral("--") + name;
            if (argument == option || argument.startsWith(option + QLatin1Char('='))) return true;
        }
    }
    return false;
}

// Qt's own options, which the graphical application takes out of the arguments itself: those
// that take a value, and those that do not. Either spelled with one dash or two.
const QStringList QtValueOptions{
    QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
    QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"), QStringLiteral("geometry"), QStringLiteral("title"),
    QStringLiteral("display"), QStringLiteral("name"), QStringLiteral("style"),
    QStringLiteral("stylesheet"), QStringLiteral("session")};
const QStringList QtFlagOptions{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                QStringLiteral("nograb"), QStringLiteral("dograb"),
                                QStringLiteral("sync"), QStringLiteral("testability"),
                                QStringLiteral("qmljsdebugger")};

// The arguments without Qt's own options, for the program's parser to judge before any window
// system is touched: an unknown option must be an error, not an abort where there is no display.
// Also whether a platform was named (-platform).
QStringList WithoutQtOptions(const QStringList& arguments, bool* platformNamed) {
    QStringList rest{arguments.value(0)};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--")) {
            rest += arguments.mid(i);
            break;
        }
        QString name = argument.startsWith(QStringLiteral("--")) ? argument.mid(2)
                       : argument.startsWith(QLatin1Char('-')) ? argument.mid(1)
                                                               : QString();
        const bool inline_ = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (QtValueOptions.contains(name)) {
            if (name == QStringLiteral("platform")) *platformNamed = true;
            if (!inline_) ++i;
            continue;
        }
        if (!QtFlagOptions.contains(name)) rest.append(argument);
    }
    return rest;
}

// The usage after the reason, as every wrong option gets it. Returns the exit status.
int WrongOption(int argc, char* argv[], const QCommandLineParser& parser, const QString& error) {
    UseParentConsole();
    QCoreApplication app(argc, argv);
    SetProgramIdentity();
    WriteText(stderr, QStringLiteral("rzt: %1\n\n%2").arg(error, parser.helpText()));
    return DownloadStatus::WrongOption;
}

// Where no display is set, the graphical application would abort with a core dump. A platform
// chosen on purpose (offscreen, vnc) needs none.
bool NoDisplay(bool platformNamed) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    return !platformNamed && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
           qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(platformNamed);
    return false;
#endif
}

// `rzt --download KIND --output FILE`: no display, no window, no single-instance lock (the
// port's own lock keeps two programs off the device). Returns the exit status.
int DownloadFromCommandLine(int argc, char* argv[], QCommandLineParser& parser,
                            const QCommandLineOption& portOption, bool demo) {
    UseParentConsole();
    QCoreApplication app(argc, argv);
    SetProgramIdentity();

    QString error;
    DownloadRequest request;
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
    } else if (!parser.isSet(DownloadOptionNames[0])) {
        error = QStringLiteral("--output, --wait and --max-time go with --download");
    } else {
        MakeDownloadRequest(parser.value(DownloadOptionNames[0]), parser.value(DownloadOptionNames[1]),
                            GivenValue(parser, DownloadOptionNames[2]),
                            GivenValue(parser, DownloadOptionNames[3]), &request, &error);
    }
    if (!error.isEmpty()) {
        WriteText(stderr, QStringLiteral("rzt: %1\n\n%2").arg(error, parser.helpText()));
        return DownloadStatus::WrongOption;
    }

    modMain link;
    std::unique_ptr<PortSource> ports;
    if (parser.isSet(portOption)) ports = std::make_unique<FixedPortSource>(parser.value(portOption));
#ifdef RZT_WITH_SIMULATOR
    std::unique_ptr<SimDevice> simulated;
    if (demo) {
        simulated = StartSimulatedDevice();
        if (!simulated) return DownloadStatus::NotFound;
        std::fprintf(stderr, "rzt: simulated RZT device on %s\n", qPrintable(simulated->portName()));
        ports = std::make_unique<FixedPortSource>(simulated->portName());
    }
#else
    Q_UNUSED(demo);
#endif
    CommandLineDownload download(link, request, std::move(ports));
    CallOnInterrupt(&app, [&download] { download.Interrupt(); });
    return download.Run();
}

} // namespace

int main(int argc, char* argv[]) {
    UseUtf8Locale();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds a ZORV RZT timing device on its USB serial port and downloads its "
                       "timer, RPM and chronograph readings.\n\n"
                       "Without options the program watches for the device's FTDI USB serial "
                       "converter."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Use this serial port only (a converter of another make, a Bluetooth "
                       "serial link, a simulated device), e.g. COM7 or /dev/ttyACM0."),
        QStringLiteral("name"));
    parser.addOption(portOption);
    parser.addOption(QCommandLineOption(
        DownloadOptionNames[0],
        QStringLiteral("Download the device's readings with no window and save them, then end: "
                       "timer, rpm, chronograph or all. Needs --output. Exit status 0 saved, "
                       "1 wrong option, 2 no device found or identified within --wait, 3 the "
                       "device did not answer or --max-time ran out, 4 the file could not be "
                       "written, 5 the port is held by another program, 130 interrupted."),
        QStringLiteral("kind")));
    parser.addOption(QCommandLineOption(
        DownloadOptionNames[1],
        QStringLiteral("With --download: the file to save to, replaced whole only once the "
                       "download is complete, keeping its mode; - for standard output. A FIFO or "
                       "a device is written in place. Its folder is checked before the device is "
                       "asked; another user's link in a shared folder such as /tmp is refused."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        DownloadOptionNames[2],
        QStringLiteral("With --download: how long to wait for the device to be found and to "
                       "answer, in seconds (default 60; 0: for ever)."),
        QStringLiteral("seconds")));
    parser.addOption(QCommandLineOption(
        DownloadOptionNames[3],
        QStringLiteral("With --download: the longest the whole run may take, search and download, "
                       "in seconds (default 3600, over five times the longest download at the "
                       "line rate; 0: no bound). Past it nothing is saved and the exit status "
                       "is 3."),
        QStringLiteral("seconds")));
#ifdef RZT_WITH_SIMULATOR
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Run against a simulated device built into the program."));
    parser.addOption(demoOption);
#endif

    MarkProgramRunning();
    // --help and --version only print text, so they must work where there is no display (a
    // terminal over ssh, a package check); the graphical application would abort there. Qt's
    // own options (-platform, -style) are left out of this first parse and left to Qt.
    const QStringList arguments = CommandLineArguments(argc, argv);
    bool platformNamed = false;
    if (!parser.parse(WithoutQtOptions(arguments, &platformNamed)))
        return WrongOption(argc, argv, parser, parser.errorText());
    // An empty name is what an unset variable makes; it would search every converter instead.
    if (parser.isSet(portOption) && parser.value(portOption).isEmpty())
        return WrongOption(argc, argv, parser, QStringLiteral("--port needs a port's name"));
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        QCoreApplication textOnly(argc, argv);
        SetProgramIdentity();
        parser.process(textOnly); // prints the text and ends the program
        return 0;
    }
    if (AsksForDownload(arguments)) {
        bool demo = false;
#ifdef RZT_WITH_SIMULATOR
        demo = parser.isSet(demoOption);
#endif
        return DownloadFromCommandLine(argc, argv, parser, portOption, demo);
    }
    if (NoDisplay(platformNamed)) {
        std::fprintf(stderr, "rzt: no display: neither DISPLAY nor WAYLAND_DISPLAY is set (the "
                             "window needs one; --download does not)\n");
        return 1;
    }

    QApplication app(argc, argv);
    SetProgramIdentity();
    // The program ends through its own exit sequences; hiding the search window for the
    // retrieval window must never end it.
    QApplication::setQuitOnLastWindowClosed(false);
    parser.process(app);

    modMain link;
    // Stops every running event loop, the nested ones of modal windows included.
    QObject::connect(&link, &modMain::programEnding, &app, &QCoreApplication::exit);
    QtDialogs dialogs;
    SingleInstance instance;
    frmFind find(link, dialogs);

    if (parser.isSet(portOption)) {
        find.SetPortSource(std::make_unique<FixedPortSource>(parser.value(portOption)));
    }
#ifdef RZT_WITH_SIMULATOR
    std::unique_ptr<SimDevice> simulated;
    if (parser.isSet(demoOption)) {
        simulated = StartSimulatedDevice();
        if (!simulated) return 1;
        std::printf("Simulated RZT device on %s\n", qPrintable(simulated->portName()));
        std::fflush(stdout);
        find.SetPortSource(std::make_unique<FixedPortSource>(simulated->portName()));
    }
#endif

    if (!find.Load(&instance)) return 0;
    return QApplication::exec();
}
