#include "FtdiScan.h"

#include <cstddef>

namespace {

constexpr std::uint32_t kLocalMachine = 0x80000002u;
constexpr const char* kNotFound = "Not Found";

// The driver's records in today's registry, then under the shorter path of the Windows 9x
// hardware tree.
constexpr const char* kRoots[] = {"system\\currentcontrolset\\enum\\ftdibus", "enum\\ftdibus"};

// Port numbers travel on as 16-bit signed numbers.
constexpr int kLargestPort = 32767;

// Only ASCII letters are folded: the name is in the ANSI code page, where no other character
// upper-cases to C, O or M, and the C library's toupper would depend on the locale.
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int ComPortNumber(const std::string& friendlyName) {
    std::string upper = friendlyName;
    for (char& c : upper)
        c = AsciiUpper(c);

    // A name may spell the letters before the port, as in "COMPORT (COM3)", so an occurrence
    // without a digit right after it is passed over. The first one with a digit is the port,
    // even when its number is unusable ("COM0 (COM3)" names no port): a name that seems to
    // give two ports is not one to guess from.
    for (std::size_t at = upper.find("COM"); at != std::string::npos;
         at = upper.find("COM", at + 1)) {
        std::size_t pos = at + 3;
        if (pos >= upper.size() || !IsDigit(upper[pos])) continue;
        int number = 0;
        for (; pos < upper.size() && IsDigit(upper[pos]); ++pos) {
            number = number * 10 + (upper[pos] - '0');
            if (number > kLargestPort) return 0;
        }
        return number;
    }
    return 0;
}

std::vector<int> ScanFtdiRecords(RegistryReader& reader) {
    std::vector<int> ports;
    for (const std::string root : kRoots) {
        for (std::int32_t idx = 0; idx < kFtdiMaxRecordsPerRoot; ++idx) {
            // The search polls this every quarter second and must go on whatever one read does,
            // so a read that throws answers as a failed read does: "Not Found" ends this root,
            // and a friendly name that can't be read names no port.
            std::string subkey;
            try {
                subkey = reader.ReadRegistryGetSubkey(kLocalMachine, root, idx);
            } catch (...) {
                break;
            }
            if (subkey == kNotFound) break;

            std::string friendlyName;
            try {
                friendlyName = reader.ReadRegistry(kLocalMachine, root + "\\" + subkey + "\\0000",
                                                   "FriendlyName");
            } catch (...) {
                continue;
            }
            const int port = ComPortNumber(friendlyName);
            if (port > 0) ports.push_back(port);
        }
    }
    return ports;
}
