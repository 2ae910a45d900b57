#pragma once
// The Win32 registry through advapi32's 8-bit (ANSI) functions. Every text here is in the
// system's ANSI code page; converting from and to the program's own text is the caller's job.
// No Qt and no <windows.h> in this header, so the Qt adapter and the tests include it freely.

#include <cstdint>
#include <string>

struct Win32RegValue {
    std::int32_t type = 0;
    std::string name;
    std::string data; // "Not Found" when the enumeration failed
};

// Stateless: each operation opens the key it needs and closes it before returning, on every
// path. Nothing is thrown; failures come back as the texts described on each operation.
// `group` is a root key handle value such as 0x80000002 (HKEY_LOCAL_MACHINE), used as it is.
class Win32Registry {
public:
    // The platform's handle value for a 32-bit root such as 0x80000002. The predefined roots are
    // small negative numbers in a pointer-sized handle, so the value is sign-extended on Win64.
    static std::uintptr_t RootKeyHandle(std::uint32_t group) noexcept;

    // The value's data as text, or "" when the key or value can't be read or exceeds 2048 bytes.
    std::string ReadRegistry(std::uint32_t group, const std::string& section,
                             const std::string& key) const noexcept;

    // Creates every missing level of `section`. valType 4 stores `value` as a DWORD, 1 as a
    // string with its NUL, anything else as a string without one. False when the key or the
    // value could not be written.
    bool WriteRegistry(std::uint32_t group, const std::string& section, const std::string& key,
                       std::int32_t valType, const std::string& value) const noexcept;

    // The name of the subkey at `idx`, or "Not Found".
    std::string ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                      std::int32_t idx) const noexcept;

    // The value at `idx`; its data is "Not Found" when there is none or it can't be read.
    Win32RegValue ReadRegistryGetAll(std::uint32_t group, const std::string& section,
                                     std::int32_t idx) const noexcept;

    void DeleteSubkey(std::uint32_t group, const std::string& section) const noexcept;
    void DeleteValue(std::uint32_t group, const std::string& section,
                     const std::string& key) const noexcept;
};
