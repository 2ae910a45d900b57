// What a large download costs the retrieval window: rewriting the line ends, building the
// saved file's bytes, writing the file, and showing the text, at 1, 4 and 16 MiB, and how the
// time of each grows with the size (16 MiB against 1 MiB: at most 20 times is the aim, 16 is
// linear). Prints figures; asserts nothing.
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
    Answer SaveOrDiscard(QWidget*, const QString&) override { return Answer::Discard; }
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

struct Times {
    double convert = 0, inPlace = 0, windowConvert = 0, windowConvertCold = 0, lines = 0,
           write = 0, save = 0;
};

// Pushes everything else out of the processor's caches (its last level here is 32 MiB): a
// 1 MiB text would otherwise be rewritten from the cache and a 16 MiB one from memory, and the
// ratio of the two would tell the cache size rather than how the work grows.
void EvictCaches() {
    static std::vector<char> scratch(96 * 1024 * 1024);
    for (std::size_t i = 0; i < scratch.size(); i += 64)
        scratch[i] = static_cast<char>(scratch[i] + 1);
}

Times Rules(const char* label, const QString& received, const QString& folder) {
    Times t;
    const double mib = static_cast<double>(received.size()) / (1024.0 * 1024.0);
    const int runs = mib > 4 ? 5 : 9;
    QString shown;
    t.convert = MedianMs(runs, [&] { shown = ConvertLineEnds(received); });
    // In place, on a buffer of its own as the text box holds one (the copy is not timed).
    std::vector<double> inPlace;
    for (int i = 0; i < runs; ++i) {
        QString buffer(received.constData(), received.size());
        inPlace.push_back(MedianMs(1, [&] { ConvertLineEndsInPlace(buffer); }));
    }
    std::sort(inPlace.begin(), inPlace.end());
    t.inPlace = inPlace[inPlace.size() / 2];
    QByteArray bytes;
    t.lines = MedianMs(runs, [&] { bytes = SaveLines(shown); });
    const QString path = folder + QStringLiteral("/bench.csv");
    SaveOutcome outcome;
    t.write = MedianMs(runs, [&] { outcome = WriteWholeFile(path, bytes); });
    std::printf("%s (%.1f MiB received, %lld lines)\n", label, mib,
                static_cast<long long>(shown.count(QLatin1Char('\n')) + 1));
    std::printf("  ConvertLineEnds (a copy)  %8.1f ms  (%6.0f MiB/s)\n", t.convert,
                mib / t.convert * 1000);
    std::printf("  ConvertLineEndsInPlace    %8.1f ms  (%6.0f MiB/s)\n", t.inPlace,
                mib / t.inPlace * 1000);
    std::printf("  SaveLines                 %8.1f ms  (%6.0f MiB/s)\n", t.lines, mib / t.lines * 1000);
    std::printf("  WriteWholeFile            %8.1f ms  %s, %lld bytes (flushed to disk)\n", t.write,
                outcome.Ok() ? "ok" : "FAILED", static_cast<long long>(QFileInfo(path).size()));
    return t;
}

// The window's two steps on a long download: the line-end rewrite at the end of a download (the
// steps frmMain::ConvertLineEnds takes, then the display catching up with the new text) and the
// save command (its dialog answered at once), which writes through SaveData.
void WindowSteps(const char* label, const QString& received, const QString& folder, Times& t) {
    modMain link;
    link.Reg = std::make_unique<clsReg>();
    ScriptedDialogs dialogs;
    dialogs.answer = folder + QStringLiteral("/window.csv");
    frmMain window(link, dialogs);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    RichTextBox* box = window.txt;
    const auto rewrite = [&](bool cold) {
        std::vector<double> converts;
        for (int i = 0; i < 5; ++i) {
            box->SetText(QString(received.constData(), received.size()));
            box->FlushRender();
            if (cold) EvictCaches();
            converts.push_back(MedianMs(1, [&] {
                QString text = box->Text();
                box->Clear();
                ConvertLineEndsInPlace(text);
                box->SetText(std::move(text));
                box->SetSelStart(1);
                box->FlushRender();
            }));
        }
        std::sort(converts.begin(), converts.end());
        return converts[converts.size() / 2];
    };
    t.windowConvert = rewrite(false);
    t.windowConvertCold = rewrite(true);
    t.save = MedianMs(5, [&] {
        EvictCaches();
        window.cmd_Click(5);
    });
    std::printf("%s  line-end rewrite + display %6.1f ms (caches cleared first: %6.1f ms); "
                "save command (SaveData) %6.1f ms, status \"%s\"\n",
                label, t.windowConvert, t.windowConvertCold, t.save,
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
    // A number is the shortening argument ./scripts/bench gives every benchmark: not a folder.
    bool number = false;
    if (argc > 1) QString::fromLocal8Bit(argv[1]).toDouble(&number);
    const QString folder = argc > 1 && !number ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    qputenv("XDG_CONFIG_HOME", (temporary.path() + QStringLiteral("/config")).toUtf8());

    const QString oneMiB = DeviceText(1024 * 1024);
    const QString fourMiB = DeviceText(4 * 1024 * 1024);
    const QString sixteenMiB = DeviceText(16 * 1024 * 1024);

    Times one = Rules("1 MiB", oneMiB, folder);
    Times four = Rules("4 MiB", fourMiB, folder);
    Times sixteen = Rules("16 MiB", sixteenMiB, folder);
    std::printf("\n");
    WindowSteps("1 MiB ", oneMiB, folder, one);
    WindowSteps("4 MiB ", fourMiB, folder, four);
    WindowSteps("16 MiB", sixteenMiB, folder, sixteen);

    std::printf("\nScaling (ms at 1, 4 and 16 MiB; 16 MiB against 1 MiB, aim <= 20):\n");
    const auto row = [](const char* step, double a, double b, double c, bool target) {
        std::printf("  %-34s %8.1f %8.1f %8.1f   x%5.1f%s\n", step, a, b, c, c / a,
                    target ? (c / a <= 20.0 ? "   met" : "   NOT MET") : "");
    };
    row("ConvertLineEnds (a copy)", one.convert, four.convert, sixteen.convert, false);
    row("ConvertLineEndsInPlace", one.inPlace, four.inPlace, sixteen.inPlace, false);
    row("window: line-end rewrite + display", one.windowConvert, four.windowConvert,
        sixteen.windowConvert, false);
    row("  the same, caches cleared first", one.windowConvertCold, four.windowConvertCold,
        sixteen.windowConvertCold, true);
    row("SaveLines", one.lines, four.lines, sixteen.lines, false);
    row("WriteWholeFile", one.write, four.write, sixteen.write, false);
    row("window: save command (SaveData)", one.save, four.save, sixteen.save, true);
    std::printf("  (1 MiB of text is rewritten inside the processor's cache, 16 MiB from memory: the\n"
                "  rewrite is judged with the caches cleared before each run at every size)\n");
    std::printf("\n");
    ShowText("1 MiB ", oneMiB, RichTextBox::Display::Plain, true);
    ShowText("1 MiB ", oneMiB, RichTextBox::Display::Formatted, true);
    ShowText("16 MiB", sixteenMiB, RichTextBox::Display::Plain, false);
    return 0;
}
