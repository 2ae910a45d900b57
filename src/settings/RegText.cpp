#include "RegText.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace regtext {

std::string DwordText(const unsigned char* data, std::size_t size) {
    // A DWORD is four bytes; should a shorter datum ever arrive, its missing high bytes count as 0
    // rather than being read past the end.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < size && i < 4; ++i)
        number |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    char text[16];
    const int length =
        std::snprintf(text, sizeof text, "%03lu", static_cast<unsigned long>(number));
    return std::string(text, static_cast<std::size_t>(length));
}

std::string BinaryText(const unsigned char* data, std::size_t size) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string StringText(const unsigned char* data, std::size_t size) {
    if (size > 0 && data[size - 1] == 0) --size;
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::string DataText(long type, const unsigned char* data, std::size_t size, bool binaryAsHex) {
    if (type == kRegDword) return DwordText(data, size);
    if (type == kRegBinary && binaryAsHex) return BinaryText(data, size);
    return StringText(data, size);
}

std::int32_t DwordFromText(const std::string& value) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t first = 0;
    std::size_t last = value.size();
    while (first < last && blank(value[first]))
        ++first;
    while (last > first && blank(value[last - 1]))
        --last;

    // from_chars takes a leading minus but no plus; a plus sign must still be followed by a digit.
    if (first < last && value[first] == '+') {
        ++first;
        if (first == last || value[first] == '-') return 0;
    }

    long long number = 0;
    const char* begin = value.data() + first;
    const char* end = value.data() + last;
    const auto [stop, error] = std::from_chars(begin, end, number, 10);
    if (begin == end || error != std::errc() || stop != end) return 0;
    if (number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(number);
}

std::string StringData(long valType, const std::string& value) {
    if (valType == kRegSz) return value + '\0';
    return value;
}

} // namespace regtext
