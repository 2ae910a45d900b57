#pragma once
// Candidate COM ports from the device records the FTDI USB-serial driver keeps in the Windows
// registry. Plain C++ with no Qt: the scan runs against the real registry in the Windows build
// and in its Wine-run tests, and the port-number rule also serves the other platforms, which
// list their serial ports by names of their own.
// All text here is 8-bit, as the registry's ANSI functions hand it over.

#include <cstdint>
#include <string>
#include <vector>

// The two registry reads the scan makes. Neither is expected to report a failure: a failed read
// answers as described on it.
class RegistryReader {
public:
    virtual ~RegistryReader() = default;

    // The name of the subkey of `section` at the zero-based `idx`, or "Not Found" when there is
    // none or the key can't be read.
    virtual std::string ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                              std::int32_t idx) = 0;

    // The data of value `key` in `section` as text, or "" when it can't be read.
    virtual std::string ReadRegistry(std::uint32_t group, const std::string& section,
                                     const std::string& key) = 0;
};

// A reader over any store that offers the two reads with these same signatures, such as
// Win32Registry:  Win32Registry reg;  RegistryReaderOf<Win32Registry> reader(reg);
// The store must outlive the reader.
template <class Store> class RegistryReaderOf final : public RegistryReader {
public:
    explicit RegistryReaderOf(Store& store) : store_(store) {}

    std::string ReadRegistryGetSubkey(std::uint32_t group, const std::string& section,
                                      std::int32_t idx) override {
        return store_.ReadRegistryGetSubkey(group, section, idx);
    }
    std::string ReadRegistry(std::uint32_t group, const std::string& section,
                             const std::string& key) override {
        return store_.ReadRegistry(group, section, key);
    }

private:
    Store& store_;
};

// The COM port a friendly name such as "USB Serial Port (COM12)" names (here 12), or 0 when it
// names none: no "COM" (in any case) with a decimal number right after it, or a number of 0 or
// beyond 32767.
int ComPortNumber(const std::string& friendlyName);

// The most subkeys the scan asks for under one root. A real machine has a handful of records;
// the limit only keeps a reader that never answers "Not Found" from holding up the search.
inline constexpr std::int32_t kFtdiMaxRecordsPerRoot = 4096;

// The port numbers the driver's records name, in the order the registry lists the records:
// those under HKEY_LOCAL_MACHINE\system\currentcontrolset\enum\ftdibus first, then those
// under HKEY_LOCAL_MACHINE\enum\ftdibus. Each record's friendly name is read from its "0000"
// subkey. A record naming a port adds one entry, so two records for one port give it twice;
// a record naming none adds nothing. Empty when no record names a port. An exception from the
// reader counts as a failed read.
std::vector<int> ScanFtdiRecords(RegistryReader& reader);
