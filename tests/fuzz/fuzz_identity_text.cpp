// The identity text is built from whatever the identification buffer holds: the device's reply,
// and possibly line noise or leftovers of earlier replies before it.

#include "FuzzSupport.h"
#include "TextHelpers.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

// The last line of a buffer that ends in a line feed, terminator included: earlier lines are
// leftovers the identity must not depend on.
QString LastLine(const QString& buffer) {
    const qsizetype previousEnd = buffer.chopped(1).lastIndexOf(QLatin1Char('\n'));
    return buffer.mid(previousEnd + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString buffer = fuzzcheck::TextFrom(data, size);
    const QString identity = IdentityText(buffer);

    FUZZ_CHECK(identity.contains(QStringLiteral("  Version ")), buffer, identity);
    if (buffer.endsWith(QLatin1Char('\n'))) {
        const QString line = LastLine(buffer);
        FUZZ_CHECK(IdentityText(line) == identity, buffer, line, IdentityText(line), identity);
    }
    return 0;
}
