#include "Dialogs.h"
#include "search/SingleInstance.h"
#include "TextHelpers.h"
#include "modMain.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rzt"));
    QApplication::setApplicationDisplayName(QStringLiteral("ZORV RZT"));
    QApplication::setApplicationVersion(ProgramVersionText());
    QApplication::setOrganizationName(QStringLiteral("ZORV"));
    // The program ends through its own exit sequences; hiding the search window for the
    // retrieval window must never end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds a ZORV RZT timing device on its USB serial port and downloads its "
                       "timer, RPM and chronograph readings."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    modMain link;
    // Stops every running event loop, the nested ones of modal windows included.
    QObject::connect(&link, &modMain::programEnding, &app, &QCoreApplication::exit);
    QtDialogs dialogs;
    SingleInstance instance;
    frmFind find(link, dialogs);
    if (!find.Load(&instance)) return 0;
    return QApplication::exec();
}
