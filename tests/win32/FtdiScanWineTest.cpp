// The scan of the USB-serial driver's records against a real Win32 registry, with records
// planted where the driver keeps them. Only Wine's prefix of this build is written to like
// this: on a real machine those keys hold the machine's own devices and may be write-protected,
// so there the tests are skipped. All of them are in one suite, which ctest runs as one program,
// because they share those keys.

#include "FtdiScan.h"
#include "Win32Registry.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// As the driver spells them; the scan asks in lower case.
constexpr const char* kFirstRoot = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
constexpr const char* kSecondRoot = "Enum\\FTDIBUS";
constexpr const char* kSecondRootParent = "Enum";

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void RawCreateKey(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS) << path;
    RegCloseKey(key);
}

void RawSetString(const std::string& path, const std::string& name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS) << path;
    const LONG result =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    ASSERT_EQ(result, ERROR_SUCCESS) << path;
}

class FtdiRecordsTest : public testing::Test {
protected:
    void SetUp() override {
        if (!RunningUnderWine()) GTEST_SKIP() << "plants device records: Wine only";
        Clear();
        ASSERT_FALSE(KeyExists(kFirstRoot));
        ASSERT_FALSE(KeyExists(kSecondRoot));
    }

    void TearDown() override {
        if (!RunningUnderWine()) return;
        Clear();
        EXPECT_FALSE(KeyExists(kFirstRoot));
        EXPECT_FALSE(KeyExists(kSecondRootParent));
        // The control set the records were planted in is the prefix's own and stays.
        EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum"));
    }

    // Removes what the tests plant, and what an interrupted run left behind. HKLM\Enum is no
    // key of a present-day registry: it goes too, but only when nothing else is under it.
    static void Clear() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kFirstRoot);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSecondRoot);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSecondRootParent);
    }

    // A device record as the driver writes it: the port's friendly name, if any, in the
    // record's "0000" subkey, beside the other values the driver keeps there.
    static void Plant(const std::string& root, const std::string& device,
                      const std::optional<std::string>& friendlyName) {
        const std::string record = root + "\\" + device + "\\0000";
        RawSetString(record, "DeviceDesc", "USB Serial Port");
        if (friendlyName) RawSetString(record, "FriendlyName", *friendlyName);
    }

    std::vector<int> Scan() {
        RegistryReaderOf<Win32Registry> reader(reg_);
        return ScanFtdiRecords(reader);
    }

    Win32Registry reg_;
};

// Device names in sorted order, so they enumerate in this order on any registry.
const std::string kDeviceA = "VID_0403+PID_6001+A1000001A";
const std::string kDeviceB = "VID_0403+PID_6001+B2000002A";
const std::string kDeviceC = "VID_0403+PID_6001+C3000003A";
const std::string kDeviceD = "VID_0403+PID_6001+D4000004A";
const std::string kDeviceE = "VID_0403+PID_6001+E5000005A";
const std::string kDeviceF = "VID_0403+PID_6015+F6000006A";

TEST_F(FtdiRecordsTest, NoRecordsNoPorts) {
    EXPECT_EQ(Scan(), std::vector<int>{});
    // The driver's key present but holding no device.
    RawCreateKey(kFirstRoot);
    RawCreateKey(kSecondRoot);
    EXPECT_EQ(Scan(), std::vector<int>{});
}

TEST_F(FtdiRecordsTest, PortsInRecordOrderWithDuplicates) {
    Plant(kFirstRoot, kDeviceA, "USB Serial Port (COM12)");
    Plant(kFirstRoot, kDeviceB, "USB Serial Port (COM3)");
    Plant(kFirstRoot, kDeviceC, "usb serial port (com12)");
    // Windows-1252, as the Wine runner sets the code page.
    Plant(kFirstRoot, kDeviceD, "Port s\xE9rie USB (COM4)");
    EXPECT_EQ(Scan(), (std::vector<int>{12, 3, 12, 4}));
}

TEST_F(FtdiRecordsTest, RecordsNamingNoPortAreSkipped) {
    Plant(kFirstRoot, kDeviceA, "USB Serial Port (COM2)");
    Plant(kFirstRoot, kDeviceB, std::nullopt);
    // A record without its "0000" subkey, whose friendly name is somewhere else.
    RawSetString(kFirstRoot + "\\"s + kDeviceC, "FriendlyName", "USB Serial Port (COM8)");
    RawSetString(kFirstRoot + "\\"s + kDeviceC + "\\0001", "FriendlyName",
                 "USB Serial Port (COM9)");
    Plant(kFirstRoot, kDeviceD, "");
    Plant(kFirstRoot, kDeviceE, "USB Serial Converter");
    Plant(kFirstRoot, kDeviceF, "USB Serial Port (COM6)");
    EXPECT_EQ(Scan(), (std::vector<int>{2, 6}));
}

TEST_F(FtdiRecordsTest, FirstRootThenSecond) {
    Plant(kSecondRoot, kDeviceA, "USB Serial Port (COM1)");
    Plant(kSecondRoot, kDeviceB, "USB Serial Port (COM8)");
    Plant(kFirstRoot, kDeviceC, "USB Serial Port (COM8)");
    EXPECT_EQ(Scan(), (std::vector<int>{8, 1, 8}));
}

TEST_F(FtdiRecordsTest, SecondRootOnly) {
    Plant(kSecondRoot, kDeviceA, "USB Serial Port (COM9)");
    Plant(kSecondRoot, kDeviceB, "USB Serial Port (COM5)");
    EXPECT_EQ(Scan(), (std::vector<int>{9, 5}));
}

// Records come and go between scans as converters are plugged in and out.
TEST_F(FtdiRecordsTest, EachScanSeesTheRecordsOfTheMoment) {
    Plant(kFirstRoot, kDeviceA, "USB Serial Port (COM3)");
    EXPECT_EQ(Scan(), std::vector<int>{3});
    Plant(kFirstRoot, kDeviceB, "USB Serial Port (COM4)");
    EXPECT_EQ(Scan(), (std::vector<int>{3, 4}));
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kFirstRoot + "\\"s + kDeviceA).c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(Scan(), std::vector<int>{4});
}

} // namespace
