// The port-number rule for friendly names, and the scan of the driver's records over an
// in-memory registry that answers only the exact paths a real one would be asked for.

#include "FtdiScan.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

// --- Port numbers from friendly names ---

struct NameCase {
    const char* label;
    std::string name;
    int port;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.label;
}

class ComPortNumberTest : public testing::TestWithParam<NameCase> {};

TEST_P(ComPortNumberTest, ReadsTheWholeNumberAfterCom) {
    EXPECT_EQ(ComPortNumber(GetParam().name), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ComPortNumberTest,
    testing::Values(
        NameCase{"Com5", "USB Serial Port (COM5)", 5},
        NameCase{"LowerCase", "usb serial port (com7)", 7},
        NameCase{"MixedCase", "USB Serial Port (cOm4)", 4},
        NameCase{"TwoDigits", "USB Serial Port (COM12)", 12},
        NameCase{"TrailingZero", "USB Serial Port (COM10)", 10},
        NameCase{"Twenty", "USB Serial Port (COM20)", 20}, NameCase{"AtTheStart", "COM3", 3},
        NameCase{"LeadingZeros", "USB Serial Port (COM007)", 7},
        NameCase{"Largest", "COM32767", 32767}, NameCase{"Zero", "USB Serial Port (COM0)", 0},
        NameCase{"PastSixteenBits", "COM32768", 0},
        NameCase{"FiveNines", "USB Serial Port (COM99999)", 0},
        NameCase{"FarTooLong", "COM" + std::string(40, '9'), 0},
        NameCase{"NoCom", "USB Serial Converter", 0}, NameCase{"ThirdCharacterIsNotRead", "AB4", 0},
        NameCase{"Empty", "", 0}, NameCase{"ComAtTheEnd", "USB Serial Port (COM", 0},
        NameCase{"BlankAfterCom", "USB Serial Port (COM 5)", 0},
        NameCase{"SignAfterCom", "USB Serial Port (COM-5)", 0},
        NameCase{"LettersBeforeThePort", "COMPORT (COM3)", 3},
        NameCase{"FirstNumberedComCounts", "COM0 (COM3)", 0},
        NameCase{"DigitsEndAtTheFirstNonDigit", "COM12B4", 12},
        // Windows-1252: a name in French, and characters that a locale might take for C or 2.
        NameCase{"HighBytesAround", "Port s\xE9rie USB (COM11) \xFF", 11},
        NameCase{"CedillaIsNotC", "\xC7OM5", 0}, NameCase{"SuperscriptIsNotADigit", "COM\xB2", 0},
        NameCase{"NulEndsNothing", "\0COM6"s, 6}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// --- The scan ---

constexpr std::uint32_t kLocalMachine = 0x80000002u;
const std::string kFirstRoot = "system\\currentcontrolset\\enum\\ftdibus";
const std::string kSecondRoot = "enum\\ftdibus";

// Keys are matched exactly, case included, so a path the scan spells differently finds nothing.
class FakeRegistry : public RegistryReader {
public:
    // A record under `root`; with a friendly name in its "0000" subkey when `name` holds one.
    void Add(const std::string& root, const std::string& subkey, std::optional<std::string> name) {
        subkeys_[root].push_back(subkey);
        if (name) Set(root + "\\" + subkey + "\\0000", "FriendlyName", *name);
    }
    void Set(const std::string& section, const std::string& key, const std::string& data) {
        values_[{section, key}] = data;
    }

    std::string ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                      std::int32_t idx) override {
        if (throwOnSubkey && *throwOnSubkey == std::pair{section, idx})
            throw std::runtime_error("subkey");
        const auto found = subkeys_.find(section);
        if (group != kLocalMachine || found == subkeys_.end() || idx < 0 ||
            static_cast<std::size_t>(idx) >= found->second.size())
            return "Not Found";
        return found->second[static_cast<std::size_t>(idx)];
    }

    std::string ReadRegistry(std::uint32_t group, const std::string& section,
                             const std::string& key) override {
        if (throwOnValueOf && *throwOnValueOf == section) throw std::runtime_error("value");
        const auto found = values_.find({section, key});
        return group == kLocalMachine && found != values_.end() ? found->second : "";
    }

    std::optional<std::pair<std::string, std::int32_t>> throwOnSubkey;
    std::optional<std::string> throwOnValueOf;

private:
    std::map<std::string, std::vector<std::string>> subkeys_;
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

struct Record {
    bool second; // under the second root
    std::string subkey;
    std::optional<std::string> name;
};

struct ScanCase {
    const char* label;
    std::vector<Record> records;
    std::vector<int> ports;
};

void PrintTo(const ScanCase& c, std::ostream* out) {
    *out << c.label;
}

class ScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ListsPortsInRecordOrder) {
    FakeRegistry reg;
    for (const Record& r : GetParam().records)
        reg.Add(r.second ? kSecondRoot : kFirstRoot, r.subkey, r.name);
    EXPECT_EQ(ScanFtdiRecords(reg), GetParam().ports);
}

const std::string kSerialA = "VID_0403+PID_6001+A1000001A";
const std::string kSerialB = "VID_0403+PID_6001+B2000002A";
const std::string kSerialC = "VID_0403+PID_6001+C3000003A";
const std::string kSerialD = "VID_0403+PID_6001+D4000004A";
const std::string kSerialE = "VID_0403+PID_6001+E5000005A";

INSTANTIATE_TEST_SUITE_P(Records, ScanTest,
                         testing::Values(ScanCase{"NoRecords", {}, {}},
                                         ScanCase{"EnumerationOrderNotPortOrder",
                                                  {{false, kSerialA, "USB Serial Port (COM12)"},
                                                   {false, kSerialB, "USB Serial Port (COM3)"},
                                                   {false, kSerialC, "USB Serial Port (COM4)"}},
                                                  {12, 3, 4}},
                                         ScanCase{"FirstRootThenSecond",
                                                  {{true, kSerialA, "USB Serial Port (COM1)"},
                                                   {false, kSerialB, "USB Serial Port (COM8)"},
                                                   {true, kSerialC, "USB Serial Port (COM2)"}},
                                                  {8, 1, 2}},
                                         ScanCase{"DuplicatesKept",
                                                  {{false, kSerialA, "USB Serial Port (COM5)"},
                                                   {false, kSerialB, "USB Serial Port (COM5)"},
                                                   {true, kSerialC, "USB Serial Port (COM5)"}},
                                                  {5, 5, 5}},
                                         ScanCase{"RecordsNamingNoPortSkipped",
                                                  {{false, kSerialA, std::nullopt},
                                                   {false, kSerialB, "USB Serial Port (COM2)"},
                                                   {false, kSerialC, ""},
                                                   {false, kSerialD, "USB Serial Converter"},
                                                   {false, kSerialE, "USB Serial Port (COM6)"}},
                                                  {2, 6}},
                                         ScanCase{"NothingNamedAPort",
                                                  {{false, kSerialA, std::nullopt},
                                                   {true, kSerialB, "USB Serial Converter"}},
                                                  {}},
                                         ScanCase{"SecondRootOnly",
                                                  {{true, kSerialA, "USB Serial Port (COM9)"},
                                                   {true, kSerialB, "USB Serial Port (COM7)"}},
                                                  {9, 7}}),
                         [](const testing::TestParamInfo<ScanCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(ScanEdges, ReadsOnlyTheFriendlyNameOfSubkey0000) {
    FakeRegistry reg;
    reg.Add(kFirstRoot, kSerialA, std::nullopt);
    const std::string record = kFirstRoot + "\\" + kSerialA;
    reg.Set(record, "FriendlyName", "USB Serial Port (COM1)");
    reg.Set(record + "\\0001", "FriendlyName", "USB Serial Port (COM2)");
    reg.Set(record + "\\0000", "DeviceDesc", "USB Serial Port (COM3)");
    EXPECT_EQ(ScanFtdiRecords(reg), std::vector<int>{});

    reg.Set(record + "\\0000", "FriendlyName", "USB Serial Port (COM4)");
    EXPECT_EQ(ScanFtdiRecords(reg), std::vector<int>{4});
}

// A registry that names a record at every index must not hold the search up for good.
class EndlessRegistry : public RegistryReader {
public:
    std::string ReadRegistryGetSubkey(std::uint32_t, const std::string& section,
                                      std::int32_t idx) override {
        ++subkeyReads[section];
        return "Device" + std::to_string(idx);
    }
    std::string ReadRegistry(std::uint32_t, const std::string&, const std::string&) override {
        return "USB Serial Port (COM1)";
    }
    std::map<std::string, int> subkeyReads;
};

TEST(ScanEdges, StopsAtTheRecordLimitOfEachRoot) {
    EndlessRegistry reg;
    const std::vector<int> ports = ScanFtdiRecords(reg);
    EXPECT_EQ(ports.size(), 2u * kFtdiMaxRecordsPerRoot);
    EXPECT_EQ(reg.subkeyReads, (std::map<std::string, int>{{kFirstRoot, kFtdiMaxRecordsPerRoot},
                                                           {kSecondRoot, kFtdiMaxRecordsPerRoot}}));
}

TEST(ScanEdges, AThrowingReadCountsAsAFailedRead) {
    FakeRegistry reg;
    reg.Add(kFirstRoot, kSerialA, "USB Serial Port (COM3)");
    reg.Add(kFirstRoot, kSerialB, "USB Serial Port (COM4)");
    reg.Add(kFirstRoot, kSerialC, "USB Serial Port (COM5)");
    reg.Add(kSecondRoot, kSerialD, "USB Serial Port (COM6)");
    reg.Add(kSecondRoot, kSerialE, "USB Serial Port (COM7)");

    // A friendly name that throws names no port; the records after it are still read.
    reg.throwOnValueOf = kFirstRoot + "\\" + kSerialB + "\\0000";
    EXPECT_EQ(ScanFtdiRecords(reg), (std::vector<int>{3, 5, 6, 7}));

    // A subkey read that throws ends that root only.
    reg.throwOnValueOf.reset();
    reg.throwOnSubkey = {kSecondRoot, 1};
    EXPECT_EQ(ScanFtdiRecords(reg), (std::vector<int>{3, 4, 5, 6}));
    reg.throwOnSubkey = {kFirstRoot, 0};
    EXPECT_EQ(ScanFtdiRecords(reg), (std::vector<int>{6, 7}));
}

} // namespace
