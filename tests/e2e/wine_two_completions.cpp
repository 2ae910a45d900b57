// Two I/O completions of one serial port handled by Qt in one batch, then waitForReadyRead until
// the line is quiet, as the device link collects a reply. Run under Wine by wine-search.sh on the
// simulated device's port:  wine_two_completions.exe COM9 [wine_comm_wait.dll]
// Qt Serial Port 6.4.2 without the QTBUG-108450 fix keeps a semaphore count for the second
// completion of the batch, and the next wait that finds nothing new dequeues from an empty queue:
// the program crashes. Exits 0 when every round got the device's whole identification line.
#include <QCoreApplication>
#include <QSerialPort>

#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PORT [STAND-IN.dll]\n", argv[0]);
        return 2;
    }
    // Wine 8.0's stand-ins for Qt's comm wait (see wine_comm_wait.c); Qt6SerialPort.dll is in.
    if (argc == 3 && !LoadLibraryA(argv[2])) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(QSerialPort::Baud19200);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], qPrintable(port.errorString()));
        return 2;
    }
    const int rounds = 5;
    int answered = 0;
    for (int round = 1; round <= rounds; ++round) {
        port.write("?");
        QCoreApplication::processEvents(); // the write starts from a zero-time timer
        // This thread is busy for a while: the write's completion and the comm wait's (the
        // answer has come) both reach the notifier before it runs again, and it takes them in
        // one batch.
        Sleep(300);
        QCoreApplication::processEvents();
        QByteArray reply = port.readAll();
        while (port.waitForReadyRead(200)) reply += port.readAll();
        reply += port.readAll();
        const bool whole = reply.startsWith("RZT,") && reply.endsWith("\r\n");
        answered += whole ? 1 : 0;
        std::printf("round %d: %lld bytes%s\n", round, static_cast<long long>(reply.size()),
                    whole ? ", the whole identification line" : "");
        std::fflush(stdout);
    }
    std::printf("%d of %d rounds answered\n", answered, rounds);
    return answered == rounds ? 0 : 1;
}
