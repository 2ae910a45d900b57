// What a screen reader is told, through Qt's accessibility interfaces, on the whole road from
// start to a download made with the keyboard alone: roles, names, captions tied to their fields,
// the status announcements, and where the focus is.

#include "BusyIndicator.h"
#include "EndToEnd.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "about/frmInfo.h"

#include <QAccessible>
#include <QLabel>
#include <QtTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <functional>
#include <vector>

namespace {

const QString Identity = QStringLiteral("RZT-3000 SN 004211  Version 2.05");

// Every name and state change Qt reports, with the name at that moment.
struct Told {
    QObject* object;
    QAccessible::Event type;
    QString name;
};
std::vector<Told>* told = nullptr;

void Listen(QAccessibleEvent* event) {
    if (!told) return;
    const QAccessible::Event type = event->type();
    if (type != QAccessible::NameChanged && type != QAccessible::StateChanged) return;
    QAccessibleInterface* iface = event->accessibleInterface();
    told->push_back({event->object(), type, iface ? iface->text(QAccessible::Name) : QString()});
}

QAccessibleInterface* Describe(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

} // namespace

class TstAccessible : public EndToEnd {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void aScreenReaderFollowsTheWholeRoad();
};

void TstAccessible::init() {
    QVERIFY(SetUp());
    MakeSearchWindow();
}

void TstAccessible::cleanup() {
    QAccessible::installUpdateHandler(nullptr);
    if (QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(false);
    told = nullptr;
    TearDown();
}

void TstAccessible::aScreenReaderFollowsTheWholeRoad() {
    std::vector<Told> events;
    told = &events;
    // As when a screen reader runs: Qt reports changes only then.
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY(platform);
    platform->setActive(true);
    QAccessible::installUpdateHandler(Listen);

    QVERIFY(find_->Load(nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(find_->RetrievalWindow() && find_->RetrievalWindow()->isVisible(),
                             15000);
    frmMain* main = find_->RetrievalWindow();

    // Handed over: the keyboard is in the window the user sees, on its first button.
    QVERIFY(QTest::qWaitForWindowActive(main));
    QCOMPARE(QApplication::focusWidget(), main->cmd(0));

    // All Data from the keyboard alone (the whole tab order is tst_retrieve's).
    for (int i = 0; i < 3; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), main->cmd(3));
    QTest::keyClick(main->cmd(3), Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(main->lblStatus->text(), QStringLiteral("Data Received"), 15000);
    // The focus is back on the button that started the download, not lost while the buttons
    // were off.
    QCOMPARE(QApplication::focusWidget(), main->cmd(3));
    QVERIFY(!main->txt->Text().isEmpty());

    // The about window, through its hidden trigger.
    find_->show();
    QTest::mousePress(find_->Label3, Qt::RightButton, Qt::ShiftModifier);
    QVERIFY(find_->AboutWindow());
    frmInfo* about = find_->AboutWindow();

    struct Expected {
        const char* what;
        QObject* object;
        QAccessible::Role role;
        QString name;
        QString caption; // the caption that labels it; empty: none
    };
    const Expected table[] = {
        {"search window", find_.get(), QAccessible::Window,
         QStringLiteral("ZORV - RZT Software / Device Search  -  Version 1.01.0132"), {}},
        {"logo", find_->Image1, QAccessible::Graphic, QStringLiteral("ZORV RZT"), {}},
        {"port", find_->lblPort, QAccessible::StaticText, sim_->portName(), QStringLiteral("Port:")},
        {"identity", find_->lblID, QAccessible::StaticText, Identity, QStringLiteral("ID:")},
        {"busy indicator", find_->progress, QAccessible::ProgressBar, QStringLiteral("Device Found"), {}},
        {"search Exit", find_->cmdExit, QAccessible::Button, QStringLiteral("Exit"), {}},
        {"retrieval window", main, QAccessible::Window,
         QStringLiteral("ZORV - RZT Software / Retrive Data  -  Version 1.01.0132"), {}},
        {"All Data", main->cmd(3), QAccessible::Button, QStringLiteral("All Data"), {}},
        {"product id", main->lblId, QAccessible::StaticText, Identity, QStringLiteral("Product ID:")},
        {"status line", main->lblStatus, QAccessible::StatusBar, QStringLiteral("Data Received"),
         QStringLiteral("Status:")},
        {"about window", about, QAccessible::Window, frmInfo::CompanyName, {}},
    };
    for (const Expected& row : table) {
        QAccessibleInterface* iface = Describe(row.object);
        QVERIFY2(iface && iface->isValid(), row.what);
        QVERIFY2(iface->role() == row.role,
                 qPrintable(QStringLiteral("%1: role %2").arg(QLatin1String(row.what)).arg(iface->role())));
        QCOMPARE(iface->text(QAccessible::Name), row.name);
        const auto labels = iface->relations(QAccessible::Label);
        QCOMPARE(labels.size(), row.caption.isEmpty() ? 0 : 1);
        if (row.caption.isEmpty()) continue;
        QCOMPARE(labels.first().first->text(QAccessible::Name), row.caption);
        // And the other way round: the caption says what it labels.
        const auto labelled = labels.first().first->relations(QAccessible::Labelled);
        QVERIFY2(labelled.size() == 1 && labelled.first().first->object() == row.object, row.what);
    }
    QVERIFY(!Describe(find_->progress)->state().busy); // stopped at the hand-over

    // What was announced on the way, in order, each by the object that carries it: the
    // search's state by the busy indicator, the retrieval window's by its status line.
    auto namesOf = [&](QObject* object) {
        QStringList names;
        for (const Told& t : events)
            if (t.object == object && t.type == QAccessible::NameChanged) names << t.name;
        names.removeDuplicates();
        return names;
    };
    QCOMPARE(namesOf(find_->progress),
             QStringList({QStringLiteral("Searching for the device"),
                          QStringLiteral("Waiting for the device to answer"),
                          QStringLiteral("Device Found")}));
    QCOMPARE(namesOf(main->lblStatus),
             QStringList({QStringLiteral("Working..."), QStringLiteral("Ready"),
                          QStringLiteral("Loading Data"),
                          QStringLiteral("Data Received")}));
    int busyChanges = 0;
    for (const Told& t : events)
        busyChanges += t.object == find_->progress && t.type == QAccessible::StateChanged;
    QCOMPARE(busyChanges, 2); // started, stopped
}

QTEST_MAIN(TstAccessible)
#include "tst_accessible.moc"
