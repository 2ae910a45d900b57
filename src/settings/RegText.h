#pragma once
// Turning registry data into the text the rest of the program sees, and back.
// Plain C++ with no Qt: the Windows backend and its Wine-run tests use it as it is.

#include <cstddef>
#include <cstdint>
#include <string>

namespace regtext {

constexpr long kRegSz = 1;
constexpr long kRegBinary = 3;
constexpr long kRegDword = 4;

// Every read goes through a buffer of this many bytes; a larger datum counts as a failure.
constexpr std::size_t kBufferSize = 2048;

// What the two enumerators answer when there is nothing at the index or the key can't be read.
inline constexpr const char* kNotFound = "Not Found";

// The four stored bytes as an unsigned little-endian number, in decimal, at least three digits.
std::string DwordText(const unsigned char* data, std::size_t size);

// Each byte as two upper-case hexadecimal digits, in stored order, no separator.
std::string BinaryText(const unsigned char* data, std::size_t size);

// String data less its terminating NUL. Only a final NUL is dropped: a value stored
// without one keeps its last character.
std::string StringText(const unsigned char* data, std::size_t size);

// The text for data of the given type: DWORD as decimal, binary as hex when binaryAsHex,
// anything else as string data.
std::string DataText(long type, const unsigned char* data, std::size_t size, bool binaryAsHex);

// The number a type-4 write stores: a whole decimal number in the signed 32-bit range,
// optionally signed and surrounded by blanks; anything else stores 0.
std::int32_t DwordFromText(const std::string& value);

// The bytes a write stores for a non-DWORD type: type 1 gets its terminating NUL appended,
// other types are stored as the bare text.
std::string StringData(long valType, const std::string& value);

} // namespace regtext
