// Renders the program's windows offscreen in their typical states and saves them as PNG
// files, driving the real windows against the simulated device.
//
//   rzt-shots OUTPUT_FOLDER

#include "Dialogs.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "SimDevice.h"
#include "modMain.h"
#include "about/frmInfo.h"
#include "retrieve/frmMain.h"
#include "search/frmFind.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

bool Save(QWidget* window, const QDir& folder, const char* name);

class NoDialogs : public Dialogs {
public:
    QDir folder;
    bool questionShown = false;

    void Message(QWidget*, const QString& text, Icon) override {
        std::printf("message: %s\n", qPrintable(text));
    }
    // The real box, pictured once it is up and then answered Discard.
    Answer SaveOrDiscard(QWidget* parent, const QString& text) override {
        std::printf("question: %s\n", qPrintable(text));
        QTimer::singleShot(500, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            questionShown = Save(box, folder, "retrieve-device-lost.png");
            box->button(QMessageBox::Discard)->click();
        });
        return QtDialogs().SaveOrDiscard(parent, text);
    }
    QString SaveFileName(QWidget*, const SaveRequest&) override { return {}; }
};

class SimPorts : public PortSource {
public:
    explicit SimPorts(SimDevice& sim) : sim_(sim) {}
    QStringList Candidates() override {
        return sim_.portName().isEmpty() ? QStringList() : QStringList{sim_.portName()};
    }

private:
    SimDevice& sim_;
};

bool WaitFor(const std::function<bool()>& condition, int msecs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > msecs) return false;
        QTest::qWait(20);
    }
    return true;
}

bool Save(QWidget* window, const QDir& folder, const char* name) {
    for (RichTextBox* box : window->findChildren<RichTextBox*>()) box->FlushRender();
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rzt-shots OUTPUT_FOLDER\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(QStringLiteral("."));

    SimConfig config;
    config.probesBeforeAnswer = 1000000; // held back until the port-found shot is taken
    config.lineRate = false;
    config.timerData = SimConfig::GeneratedLines('T', 30);
    config.rpmData = SimConfig::GeneratedLines('R', 30);
    config.chronoData = SimConfig::GeneratedLines('C', 30);
    SimDevice sim(config);

    modMain link;
    NoDialogs dialogs;
    dialogs.folder = folder;
    frmFind find(link, dialogs);
    find.SetPortSource(std::make_unique<SimPorts>(sim));
    if (!find.Load(nullptr)) return 1;
    bool ok = true;

    QTest::qWait(400);
    ok &= Save(&find, folder, "search-watching.png");

    QTest::mousePress(find.Label3, Qt::RightButton, Qt::ShiftModifier);
    if (find.AboutWindow()) {
        ok &= Save(find.AboutWindow(), folder, "about.png");
        find.AboutWindow()->close();
    }

    QString error;
    if (!sim.plug(&error)) {
        std::fprintf(stderr, "simulated device: %s\n", qPrintable(error));
        return 1;
    }
    ok &= WaitFor([&] { return !find.lblPort->text().isEmpty(); }, 5000);
    QTest::qWait(300);
    ok &= Save(&find, folder, "search-port-found.png");

    // "Device Found" shows during a pause that runs in a nested event loop: take the picture
    // from a timer, which fires inside it.
    bool deviceFoundSaved = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!deviceFoundSaved && find.txt->Text().contains(QStringLiteral("Device Found"))) {
            deviceFoundSaved = true;
            ok &= Save(&find, folder, "search-device-found.png");
        }
    });
    watch.start();
    config.probesBeforeAnswer = 0;
    sim.setConfig(config);
    ok &= WaitFor([&] { return find.RetrievalWindow() && find.RetrievalWindow()->isVisible(); }, 8000);
    ok &= deviceFoundSaved;
    watch.stop();
    frmMain* main = find.RetrievalWindow();
    if (main) {
        ok &= Save(main, folder, "retrieve-ready.png");
        main->cmd_Click(3);
        ok &= WaitFor([&] { return main->lblStatus->text() == QStringLiteral("Data Received"); }, 10000);
        ok &= Save(main, folder, "retrieve-data.png");
        // Unplugged before Save: the link check gives the device up and asks about the data.
        sim.unplug();
        ok &= WaitFor([&] { return find.isVisible(); }, 8000);
        ok &= dialogs.questionShown;
    }
    link.EndProgram();
    return ok ? 0 : 1;
}
