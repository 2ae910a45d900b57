// The rewriting of a download's line ends, over whatever the device or the line delivers.

#include "FuzzSupport.h"
#include "RetrieveText.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

// The rule written the obvious way, one pair at a time: the text before the first CR LF pair is
// kept, the remainder starts again at that pair's LF, and a remainder without any pair is
// dropped. Quadratic (each round searches and copies the rest), which is why the program does
// not work this way.
QString ConvertLineEndsByRounds(const QString& text) {
    QString rest = text;
    QString result;
    while (!rest.isEmpty()) {
        const qsizetype pair = rest.indexOf(QStringLiteral("\r\n"));
        if (pair < 0) break;
        result += rest.left(pair);
        rest = rest.mid(pair + 1);
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = fuzzcheck::TextFrom(data, size);
    const QString converted = ConvertLineEnds(text);

    // A CR LF can only survive where a lone CR stood right before a pair: "A" CR CR LF "B" CR LF
    // gives "A" CR LF "B", as the rule says.
    if (!text.contains(QStringLiteral("\r\r\n"))) {
        FUZZ_CHECK(!converted.contains(QStringLiteral("\r\n")), text, converted);
    }
    FUZZ_CHECK(converted == ConvertLineEndsByRounds(text), text, converted,
               ConvertLineEndsByRounds(text));
    // Nothing is ever added: the result is never longer than the text it came from.
    FUZZ_CHECK(converted.size() <= text.size(), text, converted);

    // The rewrite inside the string itself, which a long download takes.
    QString inPlace = text;
    ConvertLineEndsInPlace(inPlace);
    FUZZ_CHECK(inPlace == converted, text, inPlace, converted);
    return 0;
}
