// How the portable settings store keeps a typed value in its file, and reads it back.

#include "FuzzSupport.h"
#include "IniRegStore.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool Same(const IniRegStore::Value& a, const IniRegStore::Value& b) {
    return a.type == b.type && a.data == b.data;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Whatever a damaged or hand-edited file may hold: decoding it either refuses or gives a
    // value that then survives being written and read again.
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data),
                                           static_cast<qsizetype>(size));
    if (const auto found = IniRegStore::DecodeValue(text)) {
        const QString encoded = IniRegStore::EncodeValue(*found);
        const auto again = IniRegStore::DecodeValue(encoded);
        FUZZ_CHECK(again && Same(*again, *found), text, encoded);
    }

    // Any value the store is asked to keep comes back whole.
    FuzzedDataProvider provider(data, size);
    IniRegStore::Value value;
    value.type = provider.ConsumeIntegral<qint32>();
    const auto bytes = provider.ConsumeRemainingBytes<char>();
    value.data = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const QString encoded = IniRegStore::EncodeValue(value);
    const auto decoded = IniRegStore::DecodeValue(encoded);
    FUZZ_CHECK(decoded && Same(*decoded, value), value.type, value.data, encoded);
    return 0;
}
