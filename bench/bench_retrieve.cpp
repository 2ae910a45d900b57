// What a large download costs the retrieval window: rewriting the line ends, building the
// saved file's bytes, writing the file, and showing the text. Prints figures; asserts nothing.
//
//   bench_retrieve [FOLDER]   (the files are written to FOLDER, by default a temporary one)

#include "Dialogs.h"
#include "RichTextBox.h"
#include "SimConfig.h"
#include "clsReg.h"
#include "modMain.h"
#include "retrieve/RetrieveText.h"
#include "retrieve/SaveFile.h"
#include "retrieve/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class ScriptedDialogs : public Dialogs {
public:
    QString answer;
    void Message(QWidget*, const QString& text, Icon) override {
        std::printf("    message: %s\n", qPrintable(text));
    }
    QString SaveFileName(QWidget*, const SaveRequest&) override { return answer; }
};

// The device's text as received: header, then readings of all three kinds, CR LF lines.
QString DeviceText(qsizetype bytes) {
    QByteArray text = SimConfig::GeneratedHeader();
    const QByteArray block = SimConfig::GeneratedLines('A', 2000);
    while (text.size() < bytes)
        text += block;
    text.truncate(bytes);
    return QString::fromLatin1(text);
}

// Median wall time of `runs` calls, in milliseconds.
double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Rules(const char* label, const QString& received, const QString& folder) {
    const double mib = static_cast<double>(received.size()) / (1024.0 * 1024.0);
    const int runs = mib > 4 ? 3 : 9;
    QString shown;
    const double convert = MedianMs(runs, [&] { shown = ConvertLineEnds(received); });
    QByteArray bytes;
    const double lines = MedianMs(runs, [&] { bytes = SaveLines(shown); });
    const QString path = folder + QStringLiteral("/bench.csv");
    SaveOutcome outcome;
    const double write = MedianMs(runs, [&] { outcome = WriteWholeFile(path, bytes); });
    std::printf("%s (%.1f MiB received, %lld lines)\n", label, mib,
                static_cast<long long>(shown.count(QLatin1Char('\n')) + 1));
    std::printf("  ConvertLineEnds           %8.1f ms  (%6.0f MiB/s)\n", convert,
                mib / convert * 1000);
    std::printf("  SaveLines                 %8.1f ms  (%6.0f MiB/s)\n", lines, mib / lines * 1000);
    std::printf("  WriteWholeFile            %8.1f ms  %s, %lld bytes\n", write,
                outcome.Ok() ? "ok" : "FAILED", static_cast<long long>(QFileInfo(path).size()));
}

// The whole save command as the user runs it: text box to file, through the window.
void WindowSave(const char* label, const QString& received, const QString& folder) {
    modMain link;
    link.Reg = std::make_unique<clsReg>();
    ScriptedDialogs dialogs;
    dialogs.answer = folder + QStringLiteral("/window.csv");
    frmMain window(link, dialogs);
    window.txt->SetText(ConvertLineEnds(received));
    window.txt->FlushRender();
    const double ms = MedianMs(3, [&] { window.cmd_Click(5); });
    std::printf("%s  save command (SaveLines + SaveData) %8.1f ms  status \"%s\"\n", label, ms,
                qPrintable(window.lblStatus->text()));
}

// Showing the text: replacing it whole, rewriting its line ends (the end of a download), and
// appending pieces as a download does, drawn in batches, both into an empty box and behind
// everything already shown.
void ShowText(const char* label, const QString& received, RichTextBox::Display kind, bool stream) {
    QWidget window;
    window.resize(543, 348);
    auto* box = new RichTextBox(&window, kind);
    box->setGeometry(4, 34, 535, 249);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    const char* name = kind == RichTextBox::Display::Plain ? "plain" : "formatted";
    const auto timed = [](const std::function<void()>& work) {
        QElapsedTimer clock;
        clock.start();
        work();
        QApplication::processEvents();
        return static_cast<double>(clock.nsecsElapsed()) / 1e6;
    };

    // 64-character pieces, drawn every 5 pieces: what 150 ms of data at 19200 bit/s brings.
    constexpr qsizetype Piece = 64;
    constexpr int PiecesPerDraw = 5;
    const auto streamDraws = [&](qsizetype from, int draws) {
        double ms = 0;
        for (int d = 0; d < draws; ++d) {
            for (int p = 0; p < PiecesPerDraw; ++p, from += Piece) {
                box->SetSelStart(static_cast<int>(box->Text().size()));
                box->SetSelText(received.mid(from % received.size(), Piece));
            }
            ms += timed([&] { box->FlushRender(); });
        }
        return ms / draws;
    };

    if (stream) {
        const int draws = static_cast<int>(received.size() / (Piece * PiecesPerDraw));
        QElapsedTimer total;
        total.start();
        const double perDraw = streamDraws(0, draws);
        std::printf("%s  %-9s streamed from empty, %d draws: %8.1f ms in all, %.2f ms a draw\n",
                    label, name, draws, static_cast<double>(total.nsecsElapsed()) / 1e6, perDraw);
    }
    box->Clear();
    box->FlushRender();
    const double whole = timed([&] {
        box->SetText(received);
        box->FlushRender();
    });
    std::printf("%s  %-9s SetText + draw                %8.1f ms\n", label, name, whole);
    const double rewrite = timed([&] {
        box->SetText(ConvertLineEnds(box->Text()));
        box->SetSelStart(1);
        box->FlushRender();
    });
    std::printf("%s  %-9s line ends rewritten + draw    %8.1f ms\n", label, name, rewrite);
    box->SetSelStart(static_cast<int>(box->Text().size()));
    std::printf("%s  %-9s a draw of 320 characters behind it all: %.2f ms\n", label, name,
                streamDraws(0, 100));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    qputenv("XDG_CONFIG_HOME", (temporary.path() + QStringLiteral("/config")).toUtf8());

    const QString oneMiB = DeviceText(1024 * 1024);
    const QString sixteenMiB = DeviceText(16 * 1024 * 1024);

    Rules("1 MiB", oneMiB, folder);
    Rules("16 MiB", sixteenMiB, folder);
    std::printf("\n");
    WindowSave("1 MiB ", oneMiB, folder);
    WindowSave("16 MiB", sixteenMiB, folder);
    std::printf("\n");
    ShowText("1 MiB ", oneMiB, RichTextBox::Display::Plain, true);
    ShowText("1 MiB ", oneMiB, RichTextBox::Display::Formatted, true);
    ShowText("16 MiB", sixteenMiB, RichTextBox::Display::Plain, false);
    return 0;
}
