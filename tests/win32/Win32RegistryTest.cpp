// The registry backend against a real Win32 registry (Wine's, when run from the Linux build).
// Every test works in a key of its own, so the programs may run side by side, and clears it
// before and after, so a run after an interrupted one starts clean.

#include "../RegDeleteCases.h"
#include "Win32Registry.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

// The root handle values as the program passes them: plain 32-bit numbers.
constexpr std::uint32_t kCurrentUser = 0x80000001u;
constexpr std::uint32_t kLocalMachine = 0x80000002u;
constexpr const char* kNotFound = "Not Found";

// --- Direct registry access, independent of the code under test ---

void RawSet(HKEY root, const std::string& path, const std::string& name, DWORD type,
            const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    // The platform counts in a NUL that directly follows string data in memory; a byte other
    // than NUL after the data makes it store exactly the bytes given.
    const std::string buffer = data + '\x7F';
    const LONG result =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    ASSERT_EQ(result, ERROR_SUCCESS);
}

void RawCreateKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

struct Stored {
    DWORD type = 0;
    std::string bytes; // as the registry keeps them: UTF-16 for the string types
};

// Read through the wide function: strings are kept in UTF-16, so this shows what was stored
// without a second trip through the code page.
std::optional<Stored> RawGet(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    const std::wstring wideName(name.begin(), name.end()); // names here are plain ASCII
    std::vector<BYTE> data(8192);
    DWORD size = static_cast<DWORD>(data.size());
    Stored stored;
    const LONG result =
        RegQueryValueExW(key, wideName.c_str(), nullptr, &stored.type, data.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    stored.bytes.assign(reinterpret_cast<const char*>(data.data()), size);
    return stored;
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// 8-bit text in the ANSI code page as the UTF-16 the registry keeps, every byte counted.
std::string AnsiAsStored(const std::string& ansi) {
    if (ansi.empty()) return {};
    std::wstring wide(ansi.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                           wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length));
    return Utf16Bytes(wide);
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// The key handle the process gets next. Handles are reused as soon as they are closed, so the
// value moves only when something opened in between was left open.
HKEY NextHandle() {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    RegCloseKey(key);
    return key;
}

// --- Fixtures ---

class RegistryTest : public testing::Test {
protected:
    void SetUp() override {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = std::string(info->test_suite_name()) + "." + info->name();
        std::replace(leaf.begin(), leaf.end(), '/', '-');
        section_ = "Software\\ZORV-RZT-Test\\" + leaf;
        Clear();
    }
    void TearDown() override { Clear(); }

    void Clear() const {
        RegDeleteTreeA(HKEY_CURRENT_USER, section_.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, section_.c_str());
    }

    std::string section_;
    Win32Registry reg_;
};

// --- Roots ---

// Wine takes a zero-extended root as readily as a sign-extended one, so only this check holds
// the conversion to the handle values winreg.h defines.
TEST(RootKeyTest, PredefinedRootsAsWinregDefinesThem) {
    const std::pair<std::uint32_t, HKEY> roots[] = {{0x80000000u, HKEY_CLASSES_ROOT},
                                                    {kCurrentUser, HKEY_CURRENT_USER},
                                                    {kLocalMachine, HKEY_LOCAL_MACHINE},
                                                    {0x80000003u, HKEY_USERS}};
    for (const auto& [group, root] : roots)
        EXPECT_EQ(reinterpret_cast<HKEY>(Win32Registry::RootKeyHandle(group)), root) << group;
}

// --- Reading stored data ---

struct ReadCase {
    const char* label;
    DWORD type;
    std::string data;
    std::string read;   // from ReadRegistry
    std::string listed; // data text from ReadRegistryGetAll
};

void PrintTo(const ReadCase& c, std::ostream* out) {
    *out << c.label;
}

class ReadTest : public RegistryTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, DataComesBackAsText) {
    const ReadCase& c = GetParam();
    RawSet(HKEY_CURRENT_USER, section_, "Value", c.type, c.data);

    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, section_, "Value"), c.read);

    const Win32RegValue listed = reg_.ReadRegistryGetAll(kCurrentUser, section_, 0);
    EXPECT_EQ(listed.data, c.listed);
    if (c.listed != kNotFound) {
        EXPECT_EQ(listed.type, static_cast<std::int32_t>(c.type));
        EXPECT_EQ(listed.name, "Value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stored, ReadTest,
    testing::Values(
        ReadCase{"Folder", REG_SZ, "C:\\Data\0"s, "C:\\Data", "C:\\Data"},
        ReadCase{"NulAlone", REG_SZ, "\0"s, "", ""}, ReadCase{"NoBytes", REG_SZ, "", "", ""},
        ReadCase{"StringWithoutNulKeepsLastChar", REG_SZ, "abc", "abc", "abc"},
        ReadCase{"UntypedWithoutNulKeepsLastChar", REG_NONE, "abc", "abc", "abc"},
        ReadCase{"ExpandStringNotExpanded", REG_EXPAND_SZ, "%TEMP%\\x\0"s, "%TEMP%\\x",
                 "%TEMP%\\x"},
        ReadCase{"HighBytes", REG_SZ, "C:\\Daten\\M\xFCller\0"s, "C:\\Daten\\M\xFCller",
                 "C:\\Daten\\M\xFCller"},
        ReadCase{"Dword7", REG_DWORD, "\x07\0\0\0"s, "007", "007"},
        ReadCase{"Dword0", REG_DWORD, "\0\0\0\0"s, "000", "000"},
        ReadCase{"Dword65536", REG_DWORD, "\0\0\x01\0"s, "65536", "65536"},
        ReadCase{"DwordAllOnes", REG_DWORD, "\xFF\xFF\xFF\xFF"s, "4294967295", "4294967295"},
        ReadCase{"Binary", REG_BINARY, "\x00\x0F\xA0"s, "000FA0", "\x00\x0F\xA0"s},
        ReadCase{"BinaryEndingInNul", REG_BINARY, "AB\0"s, "414200", "AB"},
        ReadCase{"BinaryEmpty", REG_BINARY, "", "", ""},
        ReadCase{"Binary2048Bytes", REG_BINARY, std::string(2048, '\xAB'), Repeat("AB", 2048),
                 std::string(2048, '\xAB')},
        ReadCase{"Binary2049Bytes", REG_BINARY, std::string(2049, '\xAB'), "", kNotFound},
        ReadCase{"String2047CharsAndNul", REG_SZ, std::string(2047, 'x') + '\0',
                 std::string(2047, 'x'), std::string(2047, 'x')},
        ReadCase{"String2048CharsAndNul", REG_SZ, std::string(2048, 'x') + '\0', "", kNotFound}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.label); });

// --- Reads that find nothing ---

struct MissCase {
    const char* label;
    std::uint32_t group;
    const char* below; // appended to the test's key, which exists but holds nothing
};

void PrintTo(const MissCase& c, std::ostream* out) {
    *out << c.label;
}

class MissTest : public RegistryTest, public testing::WithParamInterface<MissCase> {};

TEST_P(MissTest, ReadsEmptyAndEnumeratesNotFound) {
    const MissCase& c = GetParam();
    RawCreateKey(HKEY_CURRENT_USER, section_);
    const std::string section = section_ + c.below;

    EXPECT_EQ(reg_.ReadRegistry(c.group, section, "Value"), "");
    EXPECT_EQ(reg_.ReadRegistryGetSubkey(c.group, section, 0), kNotFound);
    EXPECT_EQ(reg_.ReadRegistryGetAll(c.group, section, 0).data, kNotFound);
    // Reading never creates anything.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, section_ + "\\Nowhere"));
}

INSTANTIATE_TEST_SUITE_P(
    Nothing, MissTest,
    testing::Values(MissCase{"EmptyKey", kCurrentUser, ""},
                    MissCase{"MissingKey", kCurrentUser, "\\Nowhere"},
                    MissCase{"MissingKeyDeeper", kCurrentUser, "\\Nowhere\\Deeper"},
                    MissCase{"NoSuchRoot", 0x800000FFu, ""}, MissCase{"NullRoot", 0u, ""}),
    [](const testing::TestParamInfo<MissCase>& info) { return std::string(info.param.label); });

TEST_F(RegistryTest, MissingValueBesideOthersReadsEmpty) {
    RawSet(HKEY_CURRENT_USER, section_, "Other", REG_SZ, "x\0"s);
    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, section_, "Value"), "");
}

// --- Writing ---

struct WriteCase {
    const char* label;
    std::int32_t valType;
    std::string value;
    DWORD storedType;
    std::string stored; // as 8-bit text for the string types
    std::string read;
};

void PrintTo(const WriteCase& c, std::ostream* out) {
    *out << c.label;
}

class WriteTest : public RegistryTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, StoresExactlyAndReadsBack) {
    const WriteCase& c = GetParam();
    reg_.WriteRegistry(kCurrentUser, section_, "Value", c.valType, c.value);

    const std::optional<Stored> stored = RawGet(HKEY_CURRENT_USER, section_, "Value");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, c.storedType);
    EXPECT_EQ(stored->bytes, IsStringType(c.storedType) ? AnsiAsStored(c.stored) : c.stored);
    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, section_, "Value"), c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteTest,
    testing::Values(
        WriteCase{"Folder", 1, "C:\\Out", REG_SZ, "C:\\Out\0"s, "C:\\Out"},
        WriteCase{"EmptyText", 1, "", REG_SZ, "\0"s, ""},
        WriteCase{"HighByteFolder", 1, "C:\\Daten\\M\xFCller", REG_SZ, "C:\\Daten\\M\xFCller\0"s,
                  "C:\\Daten\\M\xFCller"},
        WriteCase{"Dword12", 4, "12", REG_DWORD, "\x0C\0\0\0"s, "012"},
        WriteCase{"DwordFromLetters", 4, "abc", REG_DWORD, "\0\0\0\0"s, "000"},
        WriteCase{"DwordFromEmpty", 4, "", REG_DWORD, "\0\0\0\0"s, "000"},
        WriteCase{"DwordMinusOne", 4, "-1", REG_DWORD, "\xFF\xFF\xFF\xFF"s, "4294967295"},
        WriteCase{"DwordWithBlanks", 4, " -5 ", REG_DWORD, "\xFB\xFF\xFF\xFF"s, "4294967291"},
        WriteCase{"DwordOutOfRange", 4, "2147483648", REG_DWORD, "\0\0\0\0"s, "000"},
        WriteCase{"DwordSmallest", 4, "-2147483648", REG_DWORD, "\0\0\0\x80"s, "2147483648"},
        WriteCase{"Dword65536", 4, "65536", REG_DWORD, "\0\0\x01\0"s, "65536"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.label); });

TEST_F(RegistryTest, OtherValueTypesAreWrittenAsStrings) {
    reg_.WriteRegistry(kCurrentUser, section_, "Two", 2, "x");
    reg_.WriteRegistry(kCurrentUser, section_, "Three", 3, "0F");
    for (const char* name : {"Two", "Three"}) {
        const std::optional<Stored> stored = RawGet(HKEY_CURRENT_USER, section_, name);
        ASSERT_TRUE(stored.has_value()) << name;
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ)) << name;
    }
    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, section_, "Two"), "x");
    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, section_, "Three"), "0F");
}

TEST_F(RegistryTest, WriteCreatesEveryLevelOfThePath) {
    const std::string deep = section_ + "\\One\\Two\\Three";
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, section_));
    reg_.WriteRegistry(kCurrentUser, deep, "DIR", 1, "C:\\Data");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, deep));
    EXPECT_EQ(reg_.ReadRegistry(kCurrentUser, deep, "DIR"), "C:\\Data");
}

// The program's one setting, where the program keeps it: a folder with a character beyond
// ASCII must be stored as that character, all of it, in the machine-wide key.
class SavedFolderTest : public testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    // The same path under the user's root too: the test checks that nothing lands there.
    static void Clear() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSection);
        RegDeleteTreeA(HKEY_CURRENT_USER, kSection);
    }
    static constexpr const char* kSection = "Software\\ZORV-RZT";
    Win32Registry reg_;
};

TEST_F(SavedFolderTest, RoundTripsInLocalMachine) {
    // The 8-bit spelling below is Windows-1252; the Wine runner pins that code page.
    ASSERT_EQ(GetACP(), 1252u);
    const std::string folder = "C:\\Daten\\M\xFCller";
    EXPECT_EQ(reg_.ReadRegistry(kLocalMachine, kSection, "DIR"), "");

    reg_.WriteRegistry(kLocalMachine, kSection, "DIR", 1, folder);

    const std::optional<Stored> stored = RawGet(HKEY_LOCAL_MACHINE, kSection, "DIR");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes, Utf16Bytes(L"C:\\Daten\\M\u00FCller"s + L'\0'));
    EXPECT_EQ(reg_.ReadRegistry(kLocalMachine, kSection, "DIR"), folder);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSection));
}

// --- Enumerating ---

TEST_F(RegistryTest, SubkeysInOrderThenNotFound) {
    RawSet(HKEY_CURRENT_USER, section_, "NotAKey", REG_SZ, "x\0"s);
    for (const char* name : {"Alpha", "Beta", "Gamma"})
        RawCreateKey(HKEY_CURRENT_USER, section_ + "\\" + name);

    // The way the port search walks the driver's records: up from 0 to the first "Not Found".
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < 10; ++i) {
        const std::string name = reg_.ReadRegistryGetSubkey(kCurrentUser, section_, i);
        if (name == kNotFound) break;
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(reg_.ReadRegistryGetSubkey(kCurrentUser, section_, 3), kNotFound);
    EXPECT_EQ(reg_.ReadRegistryGetSubkey(kCurrentUser, section_, -1), kNotFound);
}

TEST_F(RegistryTest, SubkeyNamesKeepHighBytes) {
    RawCreateKey(HKEY_CURRENT_USER, section_ + "\\K\xFC"
                                               "che");
    EXPECT_EQ(reg_.ReadRegistryGetSubkey(kCurrentUser, section_, 0), "K\xFC"
                                                                     "che");
}

TEST_F(RegistryTest, ValuesByIndexWithTheirNames) {
    // Names in creation order are also in sorted order, so the order holds on any registry.
    RawSet(HKEY_CURRENT_USER, section_, "A_Dir", REG_SZ, "C:\\Data\0"s);
    RawSet(HKEY_CURRENT_USER, section_, "B_Count", REG_DWORD, "\x07\0\0\0"s);
    RawSet(HKEY_CURRENT_USER, section_, "C_Raw", REG_BINARY, "\x01\xAB\x00"s);

    struct Entry {
        std::int32_t type;
        std::string name;
        std::string data;
    };
    const std::vector<Entry> expected = {{REG_SZ, "A_Dir", "C:\\Data"},
                                         {REG_DWORD, "B_Count", "007"},
                                         {REG_BINARY, "C_Raw", "\x01\xAB"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Win32RegValue value =
            reg_.ReadRegistryGetAll(kCurrentUser, section_, static_cast<std::int32_t>(i));
        EXPECT_EQ(value.type, expected[i].type) << i;
        EXPECT_EQ(value.name, expected[i].name) << i;
        EXPECT_EQ(value.data, expected[i].data) << i;
    }
    EXPECT_EQ(reg_.ReadRegistryGetAll(kCurrentUser, section_, 3).data, kNotFound);
    EXPECT_EQ(reg_.ReadRegistryGetAll(kCurrentUser, section_, -1).data, kNotFound);
}

TEST_F(RegistryTest, ValueNameMustFitTheNameBuffer) {
    const std::string fits(2047, 'n'); // and its NUL: 2048
    RawSet(HKEY_CURRENT_USER, section_, fits, REG_SZ, "x\0"s);
    EXPECT_EQ(reg_.ReadRegistryGetAll(kCurrentUser, section_, 0).name, fits);

    RegDeleteTreeA(HKEY_CURRENT_USER, section_.c_str());
    RawSet(HKEY_CURRENT_USER, section_, fits + 'n', REG_SZ, "x\0"s);
    EXPECT_EQ(reg_.ReadRegistryGetAll(kCurrentUser, section_, 0).data, kNotFound);
}

// --- Deleting ---

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue) {
    RawSet(HKEY_CURRENT_USER, section_, "Gone", REG_SZ, "a\0"s);
    RawSet(HKEY_CURRENT_USER, section_, "Kept", REG_SZ, "b\0"s);
    reg_.DeleteValue(kCurrentUser, section_, "Gone");
    EXPECT_FALSE(RawGet(HKEY_CURRENT_USER, section_, "Gone").has_value());
    EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, section_, "Kept").has_value());
}

TEST_F(RegistryTest, DeleteSubkeyRemovesThatKeyInEitherRoot) {
    for (const auto& [group, root] : {std::pair{kCurrentUser, HKEY_CURRENT_USER},
                                      std::pair{kLocalMachine, HKEY_LOCAL_MACHINE}}) {
        RawSet(root, section_ + "\\Leaf", "Value", REG_SZ, "a\0"s);
        reg_.DeleteSubkey(group, section_ + "\\Leaf");
        EXPECT_FALSE(KeyExists(root, section_ + "\\Leaf")) << group;
        EXPECT_TRUE(KeyExists(root, section_)) << group;
    }
}

TEST_F(RegistryTest, DeletingWhatIsMissingChangesNothing) {
    RawSet(HKEY_CURRENT_USER, section_, "Kept", REG_SZ, "b\0"s);
    reg_.DeleteValue(kCurrentUser, section_, "Absent");
    reg_.DeleteValue(kCurrentUser, section_ + "\\Nowhere", "Kept");
    reg_.DeleteSubkey(kCurrentUser, section_ + "\\Nowhere");
    EXPECT_TRUE(RawGet(HKEY_CURRENT_USER, section_, "Kept").has_value());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, section_ + "\\Nowhere"));
}

// The same cases as the INI store's: what the registry leaves is what that store must leave.
class DeleteTableTest : public RegistryTest, public testing::WithParamInterface<RegDeleteCase> {};

TEST_P(DeleteTableTest, LeavesWhatTheRegistryLeaves) {
    const auto at = [this](const std::string& path) {
        return path.empty() ? section_ : section_ + "\\" + path;
    };
    RegAccess access;
    access.write = [&](const std::string& path, const std::string& name, const std::string& data) {
        reg_.WriteRegistry(kLocalMachine, at(path), name, 1, data);
    };
    access.deleteValue = [&](const std::string& path, const std::string& name) {
        reg_.DeleteValue(kLocalMachine, at(path), name);
    };
    access.deleteSubkey = [&](const std::string& path) { reg_.DeleteSubkey(kLocalMachine, at(path)); };
    access.valueAt = [&](const std::string& path, int idx)
        -> std::optional<std::pair<std::string, std::string>> {
        const Win32RegValue value = reg_.ReadRegistryGetAll(kLocalMachine, at(path), idx);
        if (value.data == kNotFound) return std::nullopt;
        return std::pair{value.name, value.data};
    };
    access.subkeyAt = [&](const std::string& path, int idx) -> std::optional<std::string> {
        std::string name = reg_.ReadRegistryGetSubkey(kLocalMachine, at(path), idx);
        if (name == kNotFound) return std::nullopt;
        return name;
    };
    EXPECT_EQ(RunRegDeleteCase(access, GetParam()), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Registry, DeleteTableTest, testing::ValuesIn(RegDeleteCases()));

// --- Handles: every operation closes what it opened, whichever way it ends ---

TEST_F(RegistryTest, EveryOperationClosesWhatItOpened) {
    // Created in sorted order, so they enumerate in this order on any registry.
    RawSet(HKEY_CURRENT_USER, section_, "A_Value", REG_SZ, "a\0"s);
    RawSet(HKEY_CURRENT_USER, section_, "B_Long", REG_SZ, std::string(3000, 'x') + '\0');
    RawCreateKey(HKEY_CURRENT_USER, section_ + "\\Sub");
    const std::string s = section_;
    const std::string missing = section_ + "\\Nowhere";

    // Each on the path where it succeeds and on one where it fails.
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"Read", [&] { reg_.ReadRegistry(kCurrentUser, s, "A_Value"); }},
        {"ReadTooLong", [&] { reg_.ReadRegistry(kCurrentUser, s, "B_Long"); }},
        {"ReadMissingKey", [&] { reg_.ReadRegistry(kCurrentUser, missing, "A_Value"); }},
        {"Write", [&] { reg_.WriteRegistry(kCurrentUser, s + "\\New", "N", 4, "7"); }},
        {"WriteNoSuchRoot", [&] { reg_.WriteRegistry(0x800000FFu, s, "N", 1, "x"); }},
        {"Subkey", [&] { reg_.ReadRegistryGetSubkey(kCurrentUser, s, 0); }},
        {"SubkeyPastEnd", [&] { reg_.ReadRegistryGetSubkey(kCurrentUser, s, 9); }},
        {"Value", [&] { reg_.ReadRegistryGetAll(kCurrentUser, s, 0); }},
        {"ValueTooLong", [&] { reg_.ReadRegistryGetAll(kCurrentUser, s, 1); }},
        {"ValueMissingKey", [&] { reg_.ReadRegistryGetAll(kCurrentUser, missing, 0); }},
        {"DeleteValue", [&] { reg_.DeleteValue(kCurrentUser, s, "A_Value"); }},
        {"DeleteValueMissingKey", [&] { reg_.DeleteValue(kCurrentUser, missing, "A_Value"); }},
        {"DeleteSubkey", [&] { reg_.DeleteSubkey(kCurrentUser, s + "\\Sub"); }},
    };
    for (const auto& [label, run] : operations) {
        // A first run lets the platform open the root keys it keeps open for the process.
        run();
        const HKEY before = NextHandle();
        run();
        EXPECT_EQ(NextHandle(), before) << label;
    }
}

// The check above can only catch a leak if the next handle really moves past a key left open.
TEST(HandleProbe, NoticesAKeyLeftOpen) {
    NextHandle();
    const HKEY before = NextHandle();
    HKEY leaked = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software", &leaked), ERROR_SUCCESS);
    EXPECT_NE(NextHandle(), before);
    RegCloseKey(leaked);
    EXPECT_EQ(NextHandle(), before);
}

} // namespace
