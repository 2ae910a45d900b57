#include "Win32Registry.h"

#include "RegText.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

static_assert(static_cast<DWORD>(regtext::kRegSz) == REG_SZ &&
              static_cast<DWORD>(regtext::kRegBinary) == REG_BINARY &&
              static_cast<DWORD>(regtext::kRegDword) == REG_DWORD);
static_assert(sizeof(LONG) == 4);

namespace {

constexpr DWORD kBufferBytes = static_cast<DWORD>(regtext::kBufferSize);

HKEY RootKey(std::uint32_t group) {
    return reinterpret_cast<HKEY>(Win32Registry::RootKeyHandle(group));
}

// Holds the one key an operation opens, and closes it however the operation ends.
class OpenedKey {
public:
    OpenedKey() = default;
    ~OpenedKey() {
        if (handle_ != nullptr) RegCloseKey(handle_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    // For the opening call to fill in. A failed open is remembered as no handle at all: the
    // platform doesn't promise what it leaves behind, and a stale value must never be closed.
    HKEY* Receive() { return &handle_; }
    bool Opened(LONG result) {
        if (result != ERROR_SUCCESS) handle_ = nullptr;
        return handle_ != nullptr;
    }
    HKEY Get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

bool OpenExisting(OpenedKey& key, std::uint32_t group, const std::string& section) {
    return key.Opened(RegOpenKeyA(RootKey(group), section.c_str(), key.Receive()));
}

const BYTE* Bytes(const std::string& text) {
    return reinterpret_cast<const BYTE*>(text.data());
}

} // namespace

std::uintptr_t Win32Registry::RootKeyHandle(std::uint32_t group) noexcept {
    // As winreg.h spells HKEY_LOCAL_MACHINE and the rest: through LONG, then pointer-sized.
    return static_cast<std::uintptr_t>(static_cast<ULONG_PTR>(static_cast<LONG>(group)));
}

std::string Win32Registry::ReadRegistry(std::uint32_t group, const std::string& section,
                                        const std::string& key) const noexcept {
    try {
        OpenedKey opened;
        if (!OpenExisting(opened, group, section)) return {};
        unsigned char data[regtext::kBufferSize];
        DWORD size = kBufferBytes;
        DWORD type = 0;
        if (RegQueryValueExA(opened.Get(), key.c_str(), nullptr, &type, data, &size) !=
            ERROR_SUCCESS)
            return {};
        return regtext::DataText(static_cast<long>(type), data, size, true);
    } catch (...) {
        return {};
    }
}

bool Win32Registry::WriteRegistry(std::uint32_t group, const std::string& section,
                                  const std::string& key, std::int32_t valType,
                                  const std::string& value) const noexcept {
    try {
        OpenedKey opened;
        if (!opened.Opened(RegCreateKeyA(RootKey(group), section.c_str(), opened.Receive())))
            return false;
        LSTATUS status;
        if (valType == regtext::kRegDword) {
            const auto number = static_cast<std::uint32_t>(regtext::DwordFromText(value));
            const BYTE data[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                                  static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
            status = RegSetValueExA(opened.Get(), key.c_str(), 0, REG_DWORD, data,
                                    static_cast<DWORD>(sizeof data));
        } else {
            // The count is of the bytes actually handed over, so text whose characters take more
            // than one byte in the code page, and type 1's closing NUL, are stored whole.
            const std::string data = regtext::StringData(valType, value);
            status = RegSetValueExA(opened.Get(), key.c_str(), 0, REG_SZ, Bytes(data),
                                    static_cast<DWORD>(data.size()));
        }
        RegFlushKey(opened.Get());
        return status == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

std::string Win32Registry::ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                                 std::int32_t idx) const noexcept {
    try {
        OpenedKey opened;
        if (!OpenExisting(opened, group, section)) return regtext::kNotFound;
        char name[regtext::kBufferSize];
        // A negative index becomes one far past the last subkey, which the platform refuses.
        if (RegEnumKeyA(opened.Get(), static_cast<DWORD>(idx), name, kBufferBytes) != ERROR_SUCCESS)
            return regtext::kNotFound;
        return std::string(name, std::find(name, name + sizeof name, '\0'));
    } catch (...) {
        return regtext::kNotFound;
    }
}

Win32RegValue Win32Registry::ReadRegistryGetAll(std::uint32_t group, const std::string& section,
                                                std::int32_t idx) const noexcept {
    Win32RegValue value;
    try {
        value.data = regtext::kNotFound;
        OpenedKey opened;
        if (!OpenExisting(opened, group, section)) return value;
        char name[regtext::kBufferSize];
        DWORD nameLength = kBufferBytes;
        unsigned char data[regtext::kBufferSize];
        DWORD size = kBufferBytes;
        DWORD type = 0;
        if (RegEnumValueA(opened.Get(), static_cast<DWORD>(idx), name, &nameLength, nullptr, &type,
                          data, &size) != ERROR_SUCCESS)
            return value;
        Win32RegValue found;
        found.type = static_cast<std::int32_t>(type);
        found.name.assign(name, std::min<DWORD>(nameLength, kBufferBytes));
        found.data = regtext::DataText(static_cast<long>(type), data, size, false);
        return found;
    } catch (...) {
        // Only building the found entry can throw (an allocation); by then value says "Not Found".
        return value;
    }
}

void Win32Registry::DeleteSubkey(std::uint32_t group, const std::string& section) const noexcept {
    try {
        OpenedKey opened;
        if (!opened.Opened(RegOpenKeyExA(RootKey(group), "", 0, KEY_ALL_ACCESS, opened.Receive())))
            return;
        RegDeleteKeyA(opened.Get(), section.c_str());
    } catch (...) {
    }
}

void Win32Registry::DeleteValue(std::uint32_t group, const std::string& section,
                                const std::string& key) const noexcept {
    try {
        OpenedKey opened;
        if (!OpenExisting(opened, group, section)) return;
        RegDeleteValueA(opened.Get(), key.c_str());
    } catch (...) {
    }
}
