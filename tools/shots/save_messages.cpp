// Renders what the user sees of saves that fail, or that meet a drive which cannot flush, in
// the program's own message boxes and retrieval window, from real failures on this system,
// and saves the pictures as PNG files.
//
//   rzt-save-shots OUTPUT_FOLDER [FOLDER_THE_USER_MAY_NOT_WRITE_TO]

#include "Dialogs.h"
#include "RichTextBox.h"
#include "clsReg.h"
#include "modMain.h"
#include "retrieve/SaveFile.h"
#include "retrieve/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// The real message boxes, each pictured once it is up and then answered.
class PicturedDialogs : public QtDialogs {
public:
    QString nextPicture;
    QString answer;
    bool ok = true;

    void Message(QWidget* parent, const QString& text, Icon icon) override {
        std::printf("message: %s\n", qPrintable(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
        const QString picture = std::exchange(nextPicture, QString());
        QTimer::singleShot(500, [this, picture] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                ok = false;
                return;
            }
            if (!picture.isEmpty()) ok &= Save(box, picture);
            box->accept();
        });
        QtDialogs::Message(parent, text, icon);
    }
    QString SaveFileName(QWidget*, const SaveRequest&) override { return answer; }

    // From the screen, with the frame and title the system gives the window.
    static bool Save(QWidget* widget, const QString& path) {
        // Drawn on the screen first: a while with the events running.
        widget->repaint();
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        const QRect frame = widget->frameGeometry();
        const QPixmap shot = widget->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        const bool saved = (shot.isNull() ? widget->grab() : shot).save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        return saved;
    }
};

int flushAnswer = 0;
int AnswerFlush(qintptr) { return flushAnswer; }

bool WriteOld(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("OLD,1\r\n") == 7;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rzt-save-shots OUTPUT_FOLDER [FOLDER_THE_USER_MAY_NOT_WRITE_TO]\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    QTemporaryDir scratch;
    if (!scratch.isValid()) return 1;
    // The remembered folder goes to a settings file of its own, not the user's (on Windows it
    // is the registry of the prefix or machine the pictures are made on).
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toUtf8());

    modMain link;
    link.Reg = std::make_unique<clsReg>();
    PicturedDialogs dialogs;
    frmMain window(link, dialogs);
    window.txt->SetText(QStringLiteral("T,00001,02/03/2024,09:14:10,00:31.44,s\r\n"
                                       "T,00002,02/03/2024,09:15:02,00:29.87,s\r\n"));
    window.show();
    QApplication::processEvents();

    const auto save = [&](const QString& path, const char* picture) {
        dialogs.answer = path;
        dialogs.nextPicture = picture ? out.filePath(QString::fromLatin1(picture)) : QString();
        window.cmd_Click(5);
        std::printf("status: %s\n", qPrintable(window.lblStatus->text()));
    };

    if (argc > 2) save(QDir(QString::fromLocal8Bit(argv[2])).filePath(QStringLiteral("run.csv")),
                       "save-folder-denied.png");

#ifdef Q_OS_WIN
    {
        const QString path = scratch.filePath(QStringLiteral("held.csv"));
        if (!WriteOld(path)) return 1;
        // As a spreadsheet holds the file it shows: open, and shared with no one.
        HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) return 1;
        save(path, "save-held-open.png");
        CloseHandle(held);
    }
    const int unsupported = ERROR_INVALID_FUNCTION;
    const int diskFull = ERROR_DISK_FULL;
#else
    const int unsupported = EINVAL;
    const int diskFull = ENOSPC;
#endif

    // The flush is answered as a drive answers it; the rest is the system's.
    SetFlushToDisk(&AnswerFlush);
    const QString path = scratch.filePath(QStringLiteral("flush.csv"));
    if (!WriteOld(path)) return 1;
    flushAnswer = unsupported;
    save(path, nullptr);
    dialogs.ok &= PicturedDialogs::Save(&window, out.filePath(QStringLiteral("save-flush-unsupported.png")));
    flushAnswer = diskFull;
    save(path, "save-flush-disk-full.png");
    SetFlushToDisk(nullptr);

    link.EndProgram();
    return dialogs.ok ? 0 : 1;
}
