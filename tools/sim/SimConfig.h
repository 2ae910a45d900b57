#pragma once
// What the simulated device answers, and how fast. Plain values: copy, change, hand to
// SimDevice::setConfig.

#include <QByteArray>
#include <chrono>
#include <optional>

// How a reply is cut up on its way out. The device's converter hands text to the computer in
// pieces; the program must cope with any split, so tests choose it.
struct SimPacing {
    int chunkSize = 0; // bytes per piece; 0: the whole reply in one piece
    int gapMs = 0;     // quiet time between pieces
};

struct SimConfig {
    // 19200 bit/s with 8N1 framing: ten bits on the wire per byte.
    static constexpr int LineBytesPerSecond = 1920;

    // The identification line, sent exactly as given (CR LF included).
    QByteArray idLine = "RZT,0,0,0,0,0,0,0,RZT-3000 SN 004211,2.05\r\n";
    SimPacing idPacing;
    // "?" requests ignored after power-on or plug-in before the first answer, as when the user
    // gets round to 'OPTN' and 'YES' only a while after the program started asking.
    int probesBeforeAnswer = 0;

    QByteArray header = GeneratedHeader();
    QByteArray timerData = GeneratedLines('T', 5);
    QByteArray rpmData = GeneratedLines('R', 5);
    QByteArray chronoData = GeneratedLines('C', 5);
    // Unset: the timer, RPM and chronograph data one after the other.
    std::optional<QByteArray> allData;
    SimPacing dataPacing{32, 0};

    // True: every reply takes the time 19200 bit/s needs (a piece is handed over once its last
    // byte would have crossed the line). False: as fast as the computer takes it.
    bool lineRate = true;
    // Time between a command's arrival and the start of its reply.
    int replyDelayMs = 0;

    // The reply to "T", "R", "C" or "A"; empty for any other letter.
    QByteArray dataFor(char kind) const;

    // Realistic-looking readings of one kind ('T', 'R' or 'C'; 'A' gives all three), each line
    // ending in CR LF. The same count always gives the same text.
    static QByteArray GeneratedLines(char kind, int count);
    static QByteArray GeneratedHeader();
};

// One byte the device received from the computer, with the monotonic time it was read.
struct SimRxByte {
    std::chrono::steady_clock::time_point at;
    char byte;
};
