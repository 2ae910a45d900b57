// The text rules of the settings store, checked without any registry behind them.

#include "RegText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

using namespace std::string_literals;

namespace {

const unsigned char* Bytes(const std::string& data) {
    return reinterpret_cast<const unsigned char*>(data.data());
}

struct DataCase {
    const char* label;
    long type;
    std::string data;
    bool binaryAsHex;
    std::string expected;
};

void PrintTo(const DataCase& c, std::ostream* out) {
    *out << c.label;
}

class DataTextTest : public testing::TestWithParam<DataCase> {};

TEST_P(DataTextTest, ConvertsStoredBytes) {
    const DataCase& c = GetParam();
    EXPECT_EQ(regtext::DataText(c.type, Bytes(c.data), c.data.size(), c.binaryAsHex), c.expected);
}

// Byte strings are spelled out with their final NULs where the store keeps one.
INSTANTIATE_TEST_SUITE_P(
    Rules, DataTextTest,
    testing::Values(
        DataCase{"Dword7", 4, "\x07\0\0\0"s, true, "007"},
        DataCase{"Dword0", 4, "\0\0\0\0"s, true, "000"},
        DataCase{"Dword42", 4, "\x2A\0\0\0"s, true, "042"},
        DataCase{"Dword1234", 4, "\xD2\x04\0\0"s, true, "1234"},
        DataCase{"Dword65536", 4, "\0\0\x01\0"s, true, "65536"},
        DataCase{"DwordLittleEndian", 4, "\x01\x02\0\0"s, true, "513"},
        DataCase{"DwordTopBitIsUnsigned", 4, "\0\0\0\x80"s, true, "2147483648"},
        DataCase{"DwordAllOnes", 4, "\xFF\xFF\xFF\xFF"s, true, "4294967295"},
        DataCase{"DwordShortDataReadsNoFurther", 4, "\x07\x01"s, true, "263"},
        DataCase{"DwordAlsoInEnumeration", 4, "\x07\0\0\0"s, false, "007"},
        DataCase{"BinaryHexUpperCase", 3, "\x00\x0F\xA0"s, true, "000FA0"},
        DataCase{"BinaryKeepsTrailingZero", 3, "\x01\xAB\x00"s, true, "01AB00"},
        DataCase{"BinaryEmpty", 3, ""s, true, ""},
        DataCase{"BinaryAsStringDropsFinalNul", 3, "AB\0"s, false, "AB"},
        DataCase{"BinaryAsStringKeepsNonNul", 3, "\x00\x0F\xA0"s, false, "\x00\x0F\xA0"s},
        DataCase{"StringWithNul", 1, "C:\\Data\0"s, true, "C:\\Data"},
        DataCase{"StringWithoutNulKeepsLastChar", 1, "abc"s, true, "abc"},
        DataCase{"StringNulAlone", 1, "\0"s, true, ""}, DataCase{"StringNoBytes", 1, ""s, true, ""},
        DataCase{"StringHighBytesPassThrough", 1, "M\xFC\x80\xFF\0"s, true, "M\xFC\x80\xFF"},
        DataCase{"StringOnlyOneNulDropped", 7, "a\0b\0\0"s, true, "a\0b\0"s},
        DataCase{"ExpandStringIsString", 2, "%TEMP%\0"s, true, "%TEMP%"},
        DataCase{"UntypedIsString", 0, "abc"s, true, "abc"}),
    [](const testing::TestParamInfo<DataCase>& info) { return std::string(info.param.label); });

struct DwordCase {
    const char* label;
    std::string text;
    std::int32_t expected;
};

void PrintTo(const DwordCase& c, std::ostream* out) {
    *out << c.label;
}

class DwordFromTextTest : public testing::TestWithParam<DwordCase> {};

TEST_P(DwordFromTextTest, ParsesWholeNumbersOnly) {
    EXPECT_EQ(regtext::DwordFromText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DwordFromTextTest,
    testing::Values(
        DwordCase{"Plain", "12", 12}, DwordCase{"LeadingZeros", "007", 7},
        DwordCase{"BlanksAndMinus", " -5 ", -5}, DwordCase{"TabsAndPlus", "\t+42\t", 42},
        DwordCase{"Largest", "2147483647", 2147483647},
        DwordCase{"Smallest", "-2147483648", INT32_MIN},
        DwordCase{"OneAboveRange", "2147483648", 0}, DwordCase{"OneBelowRange", "-2147483649", 0},
        DwordCase{"FarOutOfRange", "99999999999999999999", 0}, DwordCase{"Letters", "abc", 0},
        DwordCase{"Empty", "", 0}, DwordCase{"BlanksOnly", "   ", 0},
        DwordCase{"TrailingLetters", "12abc", 0}, DwordCase{"InnerBlank", "1 2", 0},
        DwordCase{"Fraction", "1.5", 0}, DwordCase{"SignAlone", "-", 0},
        DwordCase{"PlusAlone", "+", 0}, DwordCase{"TwoSigns", "+-1", 0}),
    [](const testing::TestParamInfo<DwordCase>& info) { return std::string(info.param.label); });

struct StoreCase {
    const char* label;
    long valType;
    std::string value;
    std::string stored;
};

void PrintTo(const StoreCase& c, std::ostream* out) {
    *out << c.label;
}

class StringDataTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StringDataTest, AppendsNulForTypeOneOnly) {
    EXPECT_EQ(regtext::StringData(GetParam().valType, GetParam().value), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StringDataTest,
    testing::Values(StoreCase{"Folder", 1, "C:\\Out", "C:\\Out\0"s},
                    StoreCase{"Empty", 1, "", "\0"s},
                    StoreCase{"HighByte", 1, "C:\\Daten\\M\xFCller", "C:\\Daten\\M\xFCller\0"s},
                    StoreCase{"OtherTypeBare", 2, "x", "x"},
                    StoreCase{"TypeZeroBare", 0, "x", "x"}),
    [](const testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.label); });

} // namespace
