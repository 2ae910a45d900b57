#pragma once
// The lines of a text buffer owned by someone else: an index of where each line starts, kept
// up to date as text is added at the end, so that neither drawing nor reading a line costs
// anything that grows with the length of the text. No widget: the view paints from it, and the
// accessibility interface reads the same lines through it.
//
// CR LF, a lone CR and a lone LF each end one line, also when a CR LF pair was indexed in two
// steps. Offsets are of two kinds:
// - buffer offsets, into the buffer as it is (CR LF pairs and all);
// - shown offsets, into the text as the user reads it: the lines joined by one LF each. This is
//   the text a screen reader is given. Adding text at the end of the buffer only ever adds
//   text at the end of the shown text.
// Columns: each character takes one cell, a tab runs to the next multiple of TabColumns.

#include <QString>
#include <QStringView>
#include <algorithm>
#include <vector>

class TextLines {
public:
    static constexpr int TabColumns = 8;

    // The buffer to index; it must outlive the index or be replaced first. Null: no text.
    // The index is out of date until the next Sync().
    void SetSource(const QString* text);
    const QString* Source() const { return source_; }
    // The buffer was changed other than by adding text at its end: until the next Sync() the
    // index gives no text at all, since its offsets may point past what is there now.
    void SourceReplaced() { stale_ = true; }
    // Whether the index matches the buffer's text up to IndexedLength().
    bool Readable() const { return source_ && !stale_; }

    enum class Change { None, Extended, Rebuilt };
    // Brings the index up to the buffer: indexes what was added at its end, or the whole buffer
    // after SourceReplaced() (or when the buffer has shrunk).
    Change Sync();
    // After a Sync() that rebuilt the index: the shown offset from which the old and the new
    // text differ, to a line (or the line break that went, or came); the old length when they
    // are the same. Found only while lines are hashed; otherwise 0.
    qsizetype ReplacedFrom() const { return replacedFrom_; }
    // Keeps a hash of every line's characters (8 bytes a line), for ReplacedFrom(). Turned on,
    // it hashes the lines indexed so far.
    void HashLines(bool on);

    // How many characters of the buffer the index covers.
    qsizetype IndexedLength() const { return indexed_; }
    // Lines of the indexed text: one more than there are line breaks.
    int LineCount() const { return static_cast<int>(lineStarts_.size()); }
    // Buffer offset of the line's first character, and where its characters end (before its
    // line break, if it has one). Lines out of range are clamped.
    qsizetype LineStart(int line) const;
    qsizetype LineContentEnd(int line) const;
    // The line's characters, without its line break.
    QString LineText(int line) const;
    // The line that holds the buffer offset.
    int LineOf(qsizetype offset) const;
    // Width of the widest line, in cells.
    qsizetype WidestLine() const { return std::max(widest_, openColumns_); }

    // Cell column of a buffer offset within its line, and the buffer offset at a gap between
    // cells (a gap inside a tab goes to the tab's nearer side; past the end: the line's end).
    qsizetype ColumnOf(int line, qsizetype offset) const;
    qsizetype OffsetAtGap(int line, qsizetype gap) const;
    // Cells a character takes when it starts at `column`.
    static qsizetype CellsOf(QChar c, qsizetype column) {
        return c == u'\t' ? TabColumns - column % TabColumns : 1;
    }

    // --- The shown text ---
    // Lengths and offsets are the index's, also while it is out of date; the text is not.
    qsizetype ShownLength() const;
    qsizetype ShownLineStart(int line) const;
    // The line that holds the shown offset.
    int ShownLineOf(qsizetype shown) const;
    // Between the two kinds of offset. The LF of a CR LF pair has no shown offset of its own:
    // it maps to where the line break is shown.
    qsizetype ShownOffset(qsizetype offset) const;
    qsizetype BufferOffset(qsizetype shown) const;
    // The shown text from `from` to `to` (clamped): only that stretch is built.
    QString ShownText(qsizetype from, qsizetype to) const;
    QString ShownText() const { return ShownText(0, ShownLength()); }

    // The piece of shown text (a character, a word, a line with its LF, or the whole text)
    // before, at or after a shown offset, as a screen reader steps through text. A word is a
    // run of word characters, and so is each stretch between words; both are looked for among
    // the lines near the offset. An offset outside
    // [0, ShownLength()] gives {-1, -1}; no such piece, an empty range where it would be.
    enum class Unit { Character, Word, Line, Whole };
    enum class Side { Before, At, After };
    struct Range {
        qsizetype start = -1;
        qsizetype end = -1;
        bool operator==(const Range&) const = default;
    };
    Range ShownRange(qsizetype shown, Unit unit, Side side) const;
    // Characters that make up a word: a field of a CSV line, a word of a sentence.
    static bool IsWordCharacter(QChar c);

private:
    Range LineRange(int line) const;
    Range WordRange(qsizetype shown, Side side) const;
    void Rebuild();
    void IndexFrom(qsizetype from);

    const QString* source_ = nullptr;
    qsizetype replacedFrom_ = 0;
    // With hashing_: the hash of each line with a line break, and of the last line so far.
    bool hashing_ = false;
    std::vector<std::size_t> lineHashes_;
    std::size_t openHash_ = 0;
    // lineStarts_[i]: buffer offset of line i's first character; shownStarts_[i]: its shown
    // offset. Both always hold at least line 0.
    std::vector<qsizetype> lineStarts_{0};
    std::vector<qsizetype> shownStarts_{0};
    qsizetype indexed_ = 0;
    bool stale_ = false;
    qsizetype widest_ = 0;      // widest finished line, in cells
    qsizetype openColumns_ = 0; // cells of the last line so far
};
