// The port number read from a driver record's friendly name, which any driver or user can set
// to anything.

#include "FtdiScan.h"
#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The digits right after the first "COM" that has any, whole; empty when no "COM" has a digit
// after it. Worked out on the text alone, never as a number, so it cannot overflow the way a
// parser might.
std::string FirstPortDigits(const std::string& upper) {
    for (std::size_t at = upper.find("COM"); at != std::string::npos;
         at = upper.find("COM", at + 1)) {
        std::size_t end = at + 3;
        while (end < upper.size() && IsDigit(upper[end])) ++end;
        if (end > at + 3) return upper.substr(at + 3, end - at - 3);
    }
    return std::string();
}

// Whether some "COM" in the text is followed by a run of digits (not cut short: no digit follows
// it) that spells `number`, leading zeros allowed.
bool NamesPort(const std::string& upper, int number) {
    const std::string wanted = std::to_string(number);
    for (std::size_t at = upper.find("COM"); at != std::string::npos;
         at = upper.find("COM", at + 1)) {
        std::size_t start = at + 3;
        std::size_t end = start;
        while (end < upper.size() && IsDigit(upper[end])) ++end;
        while (start < end && upper[start] == '0') ++start;
        if (upper.substr(start, end - start) == wanted) return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const int port = ComPortNumber(name);
    const std::string upper = Upper(name);

    FUZZ_CHECK(port >= 0 && port <= 32767, name, port);
    if (port > 0) FUZZ_CHECK(NamesPort(upper, port), name, port);

    // The first numbered "COM" decides: its number when usable, else none at all.
    std::string digits = FirstPortDigits(upper);
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    digits = firstNonZero == std::string::npos ? std::string() : digits.substr(firstNonZero);
    const bool usable = !digits.empty() && (digits.size() < 5 ||
                                            (digits.size() == 5 && digits <= "32767"));
    FUZZ_CHECK(port == (usable ? std::stoi(digits) : 0), name, port, digits);
    return 0;
}
