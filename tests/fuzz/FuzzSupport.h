#pragma once
// What the fuzz targets share: turning the fuzzer's bytes into text, and a property check that,
// when it fails, prints the values involved with every character visible and aborts, which
// libFuzzer records as a crash together with the input that caused it.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <type_traits>

namespace fuzzcheck {

// Text as it comes off the serial line: one character per byte. Inputs whose first byte is odd
// are read as UTF-16 instead, so the rules also meet characters no serial line delivers.
inline QString TextFrom(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && (data[0] & 1u) != 0) {
        return QString(reinterpret_cast<const QChar*>(data + 1),
                       static_cast<qsizetype>((size - 1) / sizeof(QChar)));
    }
    return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

inline std::string Visible(const QString& text) {
    std::string out = "\"";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '"') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7f) {
            out += static_cast<char>(u);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(u));
            out += escape;
        }
    }
    return out + "\" (" + std::to_string(text.size()) + " chars)";
}

inline std::string Visible(const std::string& bytes) {
    return Visible(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

inline std::string Visible(const QByteArray& bytes) {
    return Visible(QString::fromLatin1(bytes));
}

inline std::string Visible(const char* text) {
    return Visible(std::string(text));
}

template <class Number>
    requires std::is_arithmetic_v<Number>
std::string Visible(Number number) {
    return std::to_string(number);
}

template <class T> std::string Visible(const std::optional<T>& value) {
    return value ? Visible(*value) : std::string("nullopt");
}

template <class... Values>
[[noreturn]] void Fail(const char* condition, const char* file, int line, const char* names,
                       const Values&... values) {
    std::fprintf(stderr, "\n%s:%d: property failed: %s\n  values (%s):\n", file, line, condition,
                 names);
    ((std::fprintf(stderr, "    %s\n", Visible(values).c_str())), ...);
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzzcheck

// FUZZ_CHECK(condition, values to print when it fails...)
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) fuzzcheck::Fail(#condition, __FILE__, __LINE__, #__VA_ARGS__, __VA_ARGS__); \
    } while (false)
