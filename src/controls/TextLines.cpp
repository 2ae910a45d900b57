#include "TextLines.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define RZT_SSE2 1
#endif

namespace {

// Where the stretch from `from` on of characters that each take one cell and end no line ends:
// the first character at or below CR (line breaks, tabs, other control characters) or `size`.
// Device text is mostly such characters, eight at a time are looked at where the processor can.
qsizetype SkipPlain(const QChar* text, qsizetype from, qsizetype size) {
    qsizetype i = from;
#ifdef RZT_SSE2
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        // Saturating subtraction leaves 0 exactly for the characters at or below CR.
        const int low = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(chars, cr), zero));
        if (low != 0) return i + std::countr_zero(static_cast<unsigned>(low)) / 2;
    }
#endif
    while (i < size && text[i].unicode() > u'\r')
        ++i;
    return i;
}

// How far either way of an offset words are looked for: whole lines at least this far, cut
// short only inside lines many times longer than device text has.
constexpr qsizetype WordReach = 512;

// A hash of a line's characters, four at a time: only ever compared with the hash of the same
// line of the text that replaced it, so it needs to be quick rather than proof against anyone.
std::size_t LineHash(QStringView line) {
    constexpr std::uint64_t Mix = 0xff51afd7ed558ccdULL;
    std::uint64_t hash = 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(line.size());
    const QChar* c = line.data();
    const qsizetype size = line.size();
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        std::uint64_t word;
        std::memcpy(&word, c + i, sizeof word);
        hash = (hash ^ word) * Mix;
        hash ^= hash >> 29;
    }
    for (; i < size; ++i)
        hash = (hash ^ c[i].unicode()) * Mix;
    hash ^= hash >> 32;
    return static_cast<std::size_t>(hash);
}

// Where a line's characters end in `text` indexed by `starts` (up to `indexed`): before its
// line break, if it has one.
qsizetype ContentEnd(QStringView text, const std::vector<qsizetype>& starts, qsizetype indexed,
                     int line) {
    const auto at = static_cast<std::size_t>(line);
    if (at + 1 >= starts.size()) return indexed;
    const qsizetype next = starts[at + 1];
    if (next - 2 >= starts[at] && text[next - 1] == u'\n' && text[next - 2] == u'\r') return next - 2;
    return next - 1;
}

// The shown text from `from` to `to` of `text` indexed by `starts` and `shown`.
QString ShownPiece(QStringView text, const std::vector<qsizetype>& starts,
                   const std::vector<qsizetype>& shown, qsizetype indexed, qsizetype from, qsizetype to) {
    QString piece;
    if (from >= to) return piece;
    piece.reserve(to - from);
    const int lines = static_cast<int>(starts.size());
    const auto first = std::upper_bound(shown.begin(), shown.end(), from) - shown.begin() - 1;
    for (int line = static_cast<int>(std::max<std::ptrdiff_t>(first, 0)); line < lines; ++line) {
        const qsizetype lineShown = shown[static_cast<std::size_t>(line)];
        if (lineShown >= to) break;
        const qsizetype start = starts[static_cast<std::size_t>(line)];
        const qsizetype length = ContentEnd(text, starts, indexed, line) - start;
        const qsizetype begin = std::max<qsizetype>(from - lineShown, 0);
        const qsizetype end = std::min(to - lineShown, length);
        if (end > begin) piece += text.mid(start + begin, end - begin);
        // The line break, shown as one LF whatever the buffer holds.
        if (line + 1 < lines && lineShown + length >= from && lineShown + length < to) piece += u'\n';
    }
    return piece;
}

} // namespace

void TextLines::SetSource(const QString* text) {
    source_ = text;
    stale_ = true;
}

TextLines::Change TextLines::Sync() {
    const qsizetype size = source_ ? source_->size() : 0;
    if (stale_ || size < indexed_) {
        Rebuild();
        return Change::Rebuilt;
    }
    if (size == indexed_) return Change::None;
    IndexFrom(indexed_);
    return Change::Extended;
}

void TextLines::HashLines(bool on) {
    if (on == hashing_) return;
    hashing_ = on;
    lineHashes_.clear();
    if (!on || !Readable()) return;
    const QStringView text(*source_);
    lineHashes_.reserve(lineStarts_.size());
    for (int line = 0; line + 1 < LineCount(); ++line) {
        const qsizetype start = LineStart(line);
        lineHashes_.push_back(LineHash(text.mid(start, LineContentEnd(line) - start)));
    }
    openHash_ = LineHash(text.mid(lineStarts_.back(), indexed_ - lineStarts_.back()));
}

void TextLines::Rebuild() {
    std::vector<qsizetype> lineStarts{0};
    std::vector<qsizetype> shownStarts{0};
    std::vector<std::size_t> hashes;
    lineStarts.swap(lineStarts_);
    shownStarts.swap(shownStarts_);
    hashes.swap(lineHashes_);
    const std::size_t openHash = openHash_;
    const qsizetype indexed = std::exchange(indexed_, 0);
    const qsizetype shownLength = shownStarts.back() + (indexed - lineStarts.back());
    const bool hashed = hashing_ && hashes.size() + 1 == lineStarts.size();
    stale_ = false;
    widest_ = 0;
    openColumns_ = 0;
    IndexFrom(0);

    // What went: from the first line whose characters, or whose line break, differ.
    replacedFrom_ = 0;
    if (!hashed || !hashing_) return;
    const std::size_t oldLines = lineStarts.size();
    const std::size_t newLines = lineStarts_.size();
    const auto oldHash = [&](std::size_t i) { return i + 1 < oldLines ? hashes[i] : openHash; };
    const auto newHash = [&](std::size_t i) { return i + 1 < newLines ? lineHashes_[i] : openHash_; };
    qsizetype from = shownLength;
    for (std::size_t i = 0; i < std::min(oldLines, newLines); ++i) {
        if (oldHash(i) != newHash(i)) {
            from = shownStarts[i];
            break;
        }
        if ((i + 1 < oldLines) != (i + 1 < newLines)) {
            const int line = static_cast<int>(i);
            from = shownStarts[i] + LineContentEnd(line) - LineStart(line);
            break;
        }
    }
    replacedFrom_ = from;
}

// One pass over the new characters. The LF of a CR LF pair ends no line of its own: the CR has
// already ended it, possibly in an earlier pass, so the line that CR opened starts after the LF.
void TextLines::IndexFrom(qsizetype from) {
    if (!source_) return;
    const QChar* text = source_->constData();
    const qsizetype size = source_->size();
    qsizetype columns = openColumns_;
    for (qsizetype i = from; i < size; ++i) {
        const qsizetype plain = SkipPlain(text, i, size);
        columns += plain - i;
        i = plain;
        if (i == size) break;
        const char16_t u = text[i].unicode();
        if (u == u'\n' && i > 0 && text[i - 1] == u'\r') {
            lineStarts_.back() = i + 1;
        } else if (u == u'\r' || u == u'\n') {
            widest_ = std::max(widest_, columns);
            columns = 0;
            if (hashing_) lineHashes_.push_back(LineHash(QStringView(text + lineStarts_.back(), text + i)));
            shownStarts_.push_back(shownStarts_.back() + (i - lineStarts_.back()) + 1);
            lineStarts_.push_back(i + 1);
        } else {
            columns += CellsOf(text[i], columns);
        }
    }
    openColumns_ = columns;
    indexed_ = size;
    if (hashing_) openHash_ = LineHash(QStringView(text + lineStarts_.back(), text + size));
}

qsizetype TextLines::LineStart(int line) const {
    return lineStarts_[static_cast<std::size_t>(std::clamp(line, 0, LineCount() - 1))];
}

qsizetype TextLines::LineContentEnd(int line) const {
    line = std::clamp(line, 0, LineCount() - 1);
    if (!Readable()) return LineStart(line);
    return ContentEnd(*source_, lineStarts_, indexed_, line);
}

QString TextLines::LineText(int line) const {
    if (!Readable()) return QString();
    const qsizetype start = LineStart(line);
    return source_->mid(start, LineContentEnd(line) - start);
}

int TextLines::LineOf(qsizetype offset) const {
    const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    return std::max(0, static_cast<int>(after - lineStarts_.begin()) - 1);
}

qsizetype TextLines::ColumnOf(int line, qsizetype offset) const {
    if (!Readable()) return 0;
    const QChar* text = source_->constData();
    qsizetype column = 0;
    for (qsizetype i = LineStart(line); i < offset; ++i)
        column += CellsOf(text[i], column);
    return column;
}

qsizetype TextLines::OffsetAtGap(int line, qsizetype gap) const {
    const qsizetype start = LineStart(line);
    const qsizetype end = LineContentEnd(line);
    if (!Readable()) return start;
    const QChar* text = source_->constData();
    qsizetype at = 0;
    for (qsizetype i = start; i < end; ++i) {
        const qsizetype cells = CellsOf(text[i], at);
        if (gap <= at) return i;
        if (gap < at + cells) return (gap - at) * 2 <= cells ? i : i + 1;
        at += cells;
    }
    return end;
}

bool TextLines::IsWordCharacter(QChar c) {
    return !(c.isSpace() || c == u',' || c == u';' || c == u'\r' || c == u'\n');
}

qsizetype TextLines::ShownLength() const {
    return shownStarts_.back() + (indexed_ - lineStarts_.back());
}

qsizetype TextLines::ShownLineStart(int line) const {
    return shownStarts_[static_cast<std::size_t>(std::clamp(line, 0, LineCount() - 1))];
}

int TextLines::ShownLineOf(qsizetype shown) const {
    const auto after = std::upper_bound(shownStarts_.begin(), shownStarts_.end(), shown);
    return std::max(0, static_cast<int>(after - shownStarts_.begin()) - 1);
}

qsizetype TextLines::ShownOffset(qsizetype offset) const {
    if (!Readable()) return 0;
    offset = std::clamp<qsizetype>(offset, 0, indexed_);
    const int line = LineOf(offset);
    const qsizetype start = LineStart(line);
    return ShownLineStart(line) + std::min(offset, LineContentEnd(line)) - start;
}

qsizetype TextLines::BufferOffset(qsizetype shown) const {
    shown = std::clamp<qsizetype>(shown, 0, ShownLength());
    const int line = ShownLineOf(shown);
    return LineStart(line) + (shown - ShownLineStart(line));
}

QString TextLines::ShownText(qsizetype from, qsizetype to) const {
    if (!Readable()) return QString();
    from = std::clamp<qsizetype>(from, 0, ShownLength());
    to = std::clamp<qsizetype>(to, from, ShownLength());
    return ShownPiece(*source_, lineStarts_, shownStarts_, indexed_, from, to);
}

TextLines::Range TextLines::LineRange(int line) const {
    if (line >= LineCount()) return {ShownLength(), ShownLength()};
    const qsizetype end = line + 1 < LineCount() ? ShownLineStart(line + 1) : ShownLength();
    return {ShownLineStart(line), end};
}

TextLines::Range TextLines::ShownRange(qsizetype shown, Unit unit, Side side) const {
    const qsizetype length = Readable() ? ShownLength() : 0;
    if (shown < 0 || shown > length) return {};
    switch (unit) {
    case Unit::Character:
        if (side == Side::Before) return shown > 0 ? Range{shown - 1, shown} : Range{0, 0};
        if (side == Side::After) shown += 1;
        return shown < length ? Range{shown, shown + 1} : Range{length, length};
    case Unit::Line: {
        const int line = ShownLineOf(shown);
        if (side == Side::Before) return line > 0 ? LineRange(line - 1) : Range{0, 0};
        return LineRange(side == Side::After ? line + 1 : line);
    }
    case Unit::Word:
        return WordRange(shown, side);
    case Unit::Whole:
        break;
    }
    return {0, length};
}

TextLines::Range TextLines::WordRange(qsizetype shown, Side side) const {
    const qsizetype length = ShownLength();
    // A window of whole lines around the offset.
    qsizetype from = ShownLineStart(ShownLineOf(std::max<qsizetype>(0, shown - WordReach)));
    if (from < shown - 4 * WordReach) from = shown - WordReach;
    const int lastLine = ShownLineOf(std::min(length, shown + WordReach));
    qsizetype to = lastLine + 1 < LineCount() ? ShownLineStart(lastLine + 1) : length;
    if (to > shown + 4 * WordReach) to = std::min(length, shown + WordReach);
    const QString window = ShownText(from, to);

    // Where words start and end, and the window's ends.
    std::vector<qsizetype> bounds{from};
    for (qsizetype i = 1; i < window.size(); ++i)
        if (IsWordCharacter(window[i - 1]) != IsWordCharacter(window[i])) bounds.push_back(from + i);
    if (bounds.back() != to) bounds.push_back(to);

    // bounds[k] <= shown < bounds[k + 1]; at the very end k is the last bound.
    const auto after = std::upper_bound(bounds.begin(), bounds.end(), shown);
    const std::size_t k = static_cast<std::size_t>(after - bounds.begin()) - 1;
    switch (side) {
    case Side::At:
        return k + 1 < bounds.size() ? Range{bounds[k], bounds[k + 1]} : Range{length, length};
    case Side::Before:
        return k > 0 ? Range{bounds[k - 1], bounds[k]} : Range{bounds[0], bounds[0]};
    case Side::After:
        return k + 2 < bounds.size() ? Range{bounds[k + 1], bounds[k + 2]} : Range{to, to};
    }
    return {};
}
