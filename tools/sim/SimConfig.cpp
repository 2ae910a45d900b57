#include "SimConfig.h"

#include <cstdint>
#include <cstdio>

QByteArray SimConfig::dataFor(char kind) const {
    switch (kind) {
    case 'T':
        return timerData;
    case 'R':
        return rpmData;
    case 'C':
        return chronoData;
    case 'A':
        return allData ? *allData : timerData + rpmData + chronoData;
    default:
        return {};
    }
}

QByteArray SimConfig::GeneratedHeader() {
    return "RZT-3000,SN 004211,V2.05\r\nKind,No.,Date,Time,Reading,Unit\r\n";
}

QByteArray SimConfig::GeneratedLines(char kind, int count) {
    if (kind == 'A')
        return GeneratedLines('T', count) + GeneratedLines('R', count) + GeneratedLines('C', count);

    // A fixed linear congruential sequence per kind: repeatable readings without a seed.
    std::uint32_t state = 12345u + static_cast<unsigned char>(kind);
    auto next = [&state](std::uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    };

    QByteArray text;
    char line[96];
    int secondOfDay = 9 * 3600 + 14 * 60;
    for (int i = 1; i <= count; ++i) {
        secondOfDay = (secondOfDay + 20 + static_cast<int>(next(400))) % 86400;
        const int h = secondOfDay / 3600, m = secondOfDay / 60 % 60, s = secondOfDay % 60;
        const int number = (i - 1) % 10000 + 1;
        int n = 0;
        switch (kind) {
        case 'T': {
            const auto hundredths = next(60 * 60 * 100);
            n = std::snprintf(line, sizeof line,
                              "T,%04d,02/03/2024,%02d:%02d:%02d,%02u:%02u.%02u,s\r\n", number, h, m,
                              s, hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
            break;
        }
        case 'R':
            n = std::snprintf(line, sizeof line, "R,%04d,02/03/2024,%02d:%02d:%02d,%u,RPM\r\n",
                              number, h, m, s, 800 + next(14000));
            break;
        case 'C': {
            const auto hundredths = 4500 + next(3000);
            n = std::snprintf(line, sizeof line,
                              "C,%04d,02/03/2024,%02d:%02d:%02d,LAP %d,00:%02u.%02u,s\r\n", number,
                              h, m, s, (i - 1) % 99 + 1, hundredths / 100, hundredths % 100);
            break;
        }
        default:
            return {};
        }
        text.append(line, n);
    }
    return text;
}
