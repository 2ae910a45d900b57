// rzt-sim: a simulated RZT device on a pseudo-terminal. The first line on standard output is
// the port to give the program; commands on standard input switch the device off and on,
// pull and plug the cable, and inject text.

#include "SimDevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const CommandHelp =
    "Commands on standard input, one per line:\n"
    "  off | on        switch the device off (no answers at all) or on again\n"
    "  unplug | plug   pull the cable (the port hangs up) or plug in again (a new port,\n"
    "                  printed on standard output)\n"
    "  send TEXT       send TEXT unprompted (escapes: \\r \\n \\t \\\\ \\xHH)\n"
    "  stream [TEXT]   send TEXT (default 0123456789\\r\\n) over and over until 'stop'\n"
    "  stop            end a stream\n"
    "  status          show power, port and what was received\n"
    "  log             show every byte received, with times\n"
    "  clear           forget what was received\n"
    "  quit            end rzt-sim\n";

// Text with C-like escapes into bytes.
QByteArray unescape(const QString& text) {
    const QByteArray in = text.toLocal8Bit();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out.append(in[i]);
            continue;
        }
        const char c = in[++i];
        switch (c) {
        case 'r':
            out.append('\r');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case 'x': {
            bool ok = false;
            const int value = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok && i + 2 < in.size()) {
                out.append(static_cast<char>(value));
                i += 2;
            } else {
                out.append("\\x");
            }
            break;
        }
        default:
            out.append(c);
            break;
        }
    }
    return out;
}

QByteArray printable(const QByteArray& bytes) {
    QByteArray out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7f)
            out += ch;
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    return out;
}

void say(const QByteArray& line) {
    std::fprintf(stderr, "rzt-sim: %s\n", line.constData());
}

bool readFile(const QString& path, QByteArray* into) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        say("cannot read " + path.toLocal8Bit() + ": " + file.errorString().toLocal8Bit());
        return false;
    }
    *into = file.readAll();
    return true;
}

bool readCount(const QCommandLineParser& parser, const QString& option, int* into) {
    if (!parser.isSet(option)) return true;
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < 0) {
        say("--" + option.toLocal8Bit() + " needs a whole number of 0 or more");
        return false;
    }
    *into = value;
    return true;
}

void printPort(const QString& port) {
    std::printf("%s\n", port.toLocal8Bit().constData());
    std::fflush(stdout);
}

// Reads command lines from standard input; end of input leaves the device running until
// the process is stopped, so rzt-sim also works in the background with no input at all.
class Console : public QObject {
public:
    Console(SimDevice& device, bool verbose)
        : device_(device), start_(std::chrono::steady_clock::now()) {
        notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Console::readInput);
        connect(&device_, &SimDevice::plugged, this, [](const QString& port) { printPort(port); });
        if (verbose)
            connect(&device_, &SimDevice::bytesReceived, this, [this](const QByteArray& bytes) {
                say(QByteArray::number(seconds(std::chrono::steady_clock::now()), 'f', 3) +
                    " received \"" + printable(bytes) + "\"");
            });
    }

private:
    double seconds(std::chrono::steady_clock::time_point at) const {
        return std::chrono::duration<double>(at - start_).count();
    }

    void readInput() {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            notifier_->setEnabled(false);
            return;
        }
        pending_.append(buffer, n);
        qsizetype end;
        while ((end = pending_.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending_.left(end)).trimmed();
            pending_.remove(0, end + 1);
            if (!line.isEmpty()) run(line);
        }
    }

    void run(const QString& line) {
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (word == QLatin1String("off")) {
            device_.switchOff();
            say("switched off");
        } else if (word == QLatin1String("on")) {
            device_.switchOn();
            say("switched on");
        } else if (word == QLatin1String("unplug")) {
            device_.unplug();
            say("unplugged");
        } else if (word == QLatin1String("plug")) {
            QString error;
            if (device_.isPlugged())
                say("already plugged in at " + device_.portName().toLocal8Bit());
            else if (!device_.plug(&error))
                say("cannot plug in: " + error.toLocal8Bit());
        } else if (word == QLatin1String("send")) {
            device_.send(unescape(rest));
        } else if (word == QLatin1String("stream")) {
            device_.startStream(
                unescape(rest.isEmpty() ? QStringLiteral("0123456789\\r\\n") : rest));
        } else if (word == QLatin1String("stop")) {
            device_.stopStream();
        } else if (word == QLatin1String("status")) {
            const QString port = device_.portName();
            say(QByteArray(device_.isOn() ? "on" : "off") + ", " +
                (port.isEmpty() ? QByteArray("unplugged") : port.toLocal8Bit()) + ", received " +
                QByteArray::number(device_.received().size()) + " bytes (\"X\" " +
                QByteArray::number(device_.exitCount()) + " times), " +
                QByteArray::number(device_.pendingOutput()) + " bytes waiting to go out");
        } else if (word == QLatin1String("log")) {
            for (const SimRxByte& rx : device_.received())
                say(QByteArray::number(seconds(rx.at), 'f', 4) + " \"" +
                    printable(QByteArray(1, rx.byte)) + "\"");
        } else if (word == QLatin1String("clear")) {
            device_.clearReceived();
        } else if (word == QLatin1String("quit") || word == QLatin1String("exit")) {
            QCoreApplication::quit();
        } else {
            std::fputs(CommandHelp, stderr);
        }
    }

    SimDevice& device_;
    std::chrono::steady_clock::time_point start_;
    QSocketNotifier* notifier_ = nullptr;
    QByteArray pending_;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzt-sim"));
    // A reader of our standard output that goes away must not end the device.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated RZT device on a pseudo-terminal. Prints the port to use on "
                       "the first line of standard output.\n\n") +
        QString::fromLatin1(CommandHelp));
    parser.addHelpOption();
    const SimConfig defaults;
    parser.addOptions({
        {QStringLiteral("id"),
         QStringLiteral("Identification line (escapes allowed; CR LF is added unless it ends in "
                        "\\n). Default: %1")
             .arg(QString::fromLatin1(printable(defaults.idLine))),
         QStringLiteral("text")},
        {QStringLiteral("id-chunk"),
         QStringLiteral("Send the identification line in pieces of n bytes."), QStringLiteral("n")},
        {QStringLiteral("id-gap"), QStringLiteral("Pause between those pieces."),
         QStringLiteral("ms")},
        {QStringLiteral("probes"),
         QStringLiteral("Ignore the first n \"?\" after power-on or plug-in."),
         QStringLiteral("n")},
        {QStringLiteral("header"), QStringLiteral("Reply to \"H\" (escapes allowed)."),
         QStringLiteral("text")},
        {QStringLiteral("header-file"), QStringLiteral("Reply to \"H\" from a file."),
         QStringLiteral("file")},
        {QStringLiteral("timer-file"), QStringLiteral("Reply to \"T\", byte for byte."),
         QStringLiteral("file")},
        {QStringLiteral("rpm-file"), QStringLiteral("Reply to \"R\", byte for byte."),
         QStringLiteral("file")},
        {QStringLiteral("chrono-file"), QStringLiteral("Reply to \"C\", byte for byte."),
         QStringLiteral("file")},
        {QStringLiteral("all-file"),
         QStringLiteral("Reply to \"A\", byte for byte. Default: the T, R and C replies in turn."),
         QStringLiteral("file")},
        {QStringLiteral("lines"),
         QStringLiteral("Generate n lines for each of T, R and C that has no file (default 5)."),
         QStringLiteral("n")},
        {QStringLiteral("fast"),
         QStringLiteral("Send as fast as the reader takes it instead of at 19200 bit/s.")},
        {QStringLiteral("chunk"),
         QStringLiteral("Send header and data in pieces of n bytes (default 32; 0: whole)."),
         QStringLiteral("n")},
        {QStringLiteral("gap"), QStringLiteral("Pause between those pieces."),
         QStringLiteral("ms")},
        {QStringLiteral("delay"), QStringLiteral("Wait before starting each reply."),
         QStringLiteral("ms")},
        {QStringLiteral("off"), QStringLiteral("Start switched off.")},
        {QStringLiteral("verbose"),
         QStringLiteral("Report every byte received on standard error.")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        say("no arguments expected; see --help");
        return 2;
    }

    SimConfig config;
    if (parser.isSet(QStringLiteral("id"))) {
        config.idLine = unescape(parser.value(QStringLiteral("id")));
        if (!config.idLine.endsWith('\n')) config.idLine += "\r\n";
    }
    int lines = 5;
    bool ok = readCount(parser, QStringLiteral("id-chunk"), &config.idPacing.chunkSize) &&
              readCount(parser, QStringLiteral("id-gap"), &config.idPacing.gapMs) &&
              readCount(parser, QStringLiteral("probes"), &config.probesBeforeAnswer) &&
              readCount(parser, QStringLiteral("lines"), &lines) &&
              readCount(parser, QStringLiteral("chunk"), &config.dataPacing.chunkSize) &&
              readCount(parser, QStringLiteral("gap"), &config.dataPacing.gapMs) &&
              readCount(parser, QStringLiteral("delay"), &config.replyDelayMs);
    config.timerData = SimConfig::GeneratedLines('T', lines);
    config.rpmData = SimConfig::GeneratedLines('R', lines);
    config.chronoData = SimConfig::GeneratedLines('C', lines);
    if (parser.isSet(QStringLiteral("header")))
        config.header = unescape(parser.value(QStringLiteral("header")));
    const struct {
        const char* option;
        QByteArray* into;
    } files[] = {{"header-file", &config.header},
                 {"timer-file", &config.timerData},
                 {"rpm-file", &config.rpmData},
                 {"chrono-file", &config.chronoData}};
    for (const auto& file : files)
        if (ok && parser.isSet(QLatin1String(file.option)))
            ok = readFile(parser.value(QLatin1String(file.option)), file.into);
    if (ok && parser.isSet(QStringLiteral("all-file"))) {
        QByteArray all;
        ok = readFile(parser.value(QStringLiteral("all-file")), &all);
        config.allData = all;
    }
    if (!ok) return 2;
    config.lineRate = !parser.isSet(QStringLiteral("fast"));

    SimDevice device(config);
    Console console(device, parser.isSet(QStringLiteral("verbose")));
    if (parser.isSet(QStringLiteral("off"))) device.switchOff();
    QString error;
    if (!device.plug(&error)) {
        say("cannot open a pseudo-terminal: " + error.toLocal8Bit());
        return 1;
    }
    return app.exec();
}
