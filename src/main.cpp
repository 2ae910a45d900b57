#include "Dialogs.h"
#include "PortCandidates.h"
#include "TextHelpers.h"
#include "modMain.h"
#include "search/SingleInstance.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#ifdef RZT_WITH_SIMULATOR
#include "SimDevice.h"
#endif

namespace {

void SetProgramIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("rzt"));
    // No display name: Qt would append it to every window caption, and the captions are the
    // program's own.
    QCoreApplication::setApplicationVersion(ProgramVersionText());
    QCoreApplication::setOrganizationName(QStringLiteral("ZORV"));
}

} // namespace

int main(int argc, char* argv[]) {
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
#ifdef RZT_WITH_SIMULATOR
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Run against a simulated device built into the program."));
    parser.addOption(demoOption);
#endif

    // --help and --version only print text, so they must work where there is no display (a
    // terminal over ssh, a package check); the graphical application would abort there. Qt's
    // own options (-platform, -style) are unknown to this first parse, which then leaves
    // everything to the full parse below.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    if (parser.parse(arguments) && (parser.isSet(helpOption) || parser.isSet(versionOption))) {
        QCoreApplication textOnly(argc, argv);
        SetProgramIdentity();
        parser.process(textOnly); // prints the text and ends the program
        return 0;
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
        SimConfig config;
        // Answer only after a couple of seconds, as a user pressing 'OPTN' and 'YES' would.
        config.probesBeforeAnswer = 25;
        config.timerData = SimConfig::GeneratedLines('T', 40);
        config.rpmData = SimConfig::GeneratedLines('R', 40);
        config.chronoData = SimConfig::GeneratedLines('C', 40);
        simulated = std::make_unique<SimDevice>(config);
        QString error;
        if (!simulated->plug(&error)) {
            std::fprintf(stderr, "rzt: cannot start the simulated device: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("Simulated RZT device on %s\n", qPrintable(simulated->portName()));
        std::fflush(stdout);
        find.SetPortSource(std::make_unique<FixedPortSource>(simulated->portName()));
    }
#endif

    if (!find.Load(&instance)) return 0;
    return QApplication::exec();
}
