#pragma once
// A read-only view of a text buffer owned by someone else (the plain text box's buffer). It
// keeps only an index of where each line starts and draws the lines on screen straight from
// the buffer, so its cost does not grow with the length of the text: appending indexes just
// the new characters, replacing the text re-indexes it in one pass, and a paint touches only
// the visible lines.
//
// CR LF, a lone CR and a lone LF each end one line, also when a CR LF pair was indexed in two
// steps. Lines are not wrapped; the view scrolls both ways. Characters are drawn in a
// fixed-pitch font, one cell each (a tab runs to the next multiple of TabColumns), so that a
// column is found from a position without measuring the line.
//
// The user can select with the mouse and copy (Ctrl+C, or the context menu); the copy holds
// the buffer's characters exactly, CR LF pairs included.

#include <QAbstractScrollArea>
#include <QString>
#include <algorithm>
#include <vector>

class TextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TextView(QWidget* parent = nullptr);

    static constexpr int TabColumns = 8;
    // The system's fixed-pitch font at the given size.
    static QFont FixedPitchFont(double points);

    // The buffer to show; it must outlive the view or be replaced first. Null: nothing.
    void SetSource(const QString* text);

    // The buffer was changed other than by adding text at its end: the index is out of date
    // and is rebuilt before the next paint or Sync(), whichever comes first.
    void SourceReplaced();
    // Brings the index up to the buffer: the characters added at its end since the last
    // Sync() are indexed; after SourceReplaced() the whole buffer is. Text added at the end
    // and not yet synced is simply not shown yet.
    void Sync();

    // --- What is shown ---
    // How many characters of the buffer the index covers.
    qsizetype IndexedLength() const { return indexed_; }
    // Lines of the indexed text: one more than there are line breaks.
    int LineCount() const { return static_cast<int>(lineStarts_.size()); }
    // Buffer offset of the line's first character, and where its characters end (before its
    // line break, if it has one).
    qsizetype LineStart(int line) const;
    qsizetype LineContentEnd(int line) const;
    // The line's characters, without its line break.
    QString LineText(int line) const;
    // Every line, joined by LF: what the user reads.
    QString ShownText() const;
    // Width of the widest line, in cells.
    qsizetype WidestLine() const { return std::max(widest_, openColumns_); }

    // --- Scrolling ---
    int TopLine() const;
    // Lines and cells that fit the viewport completely (at least 1).
    int VisibleLines() const;
    int VisibleColumns() const;
    bool AtBottom() const;
    void ScrollToBottom();
    // Scrolls as little as needed to show the line.
    void ShowLine(int line);
    // The line that holds the buffer offset.
    int LineOf(qsizetype offset) const;

    // --- Selection, in buffer offsets ---
    qsizetype SelectionStart() const;
    qsizetype SelectionEnd() const;
    void SetSelection(qsizetype anchor, qsizetype position);
    void SelectAll();
    // The selected characters exactly as the buffer holds them.
    QString SelectedText() const;
    // Puts the selected characters on the clipboard; nothing selected: the clipboard stays.
    void Copy() const;

    // The buffer offset under a viewport point (the nearest gap between characters).
    qsizetype OffsetAt(const QPoint& viewportPoint) const;

    // Lines drawn by the last paint, for tests: it depends on the area painted, never on the
    // text.
    int LinesPainted() const { return linesPainted_; }
    int LineHeight() const { return lineHeight_; }
    qreal CellWidth() const { return cellWidth_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Rebuild();
    void IndexFrom(qsizetype from);
    void UpdateMetrics();
    void UpdateScrollBars();
    // Asks for a paint of the line's row and those below it.
    void UpdateLinesFrom(int line);
    // Cell column of a buffer offset within a line, and the offset at a gap between cells.
    qsizetype ColumnOf(int line, qsizetype offset) const;
    qsizetype OffsetAtGap(int line, qsizetype gap) const;
    // What is drawn in a character's cell.
    static QChar Shown(QChar c);

    const QString* source_ = nullptr;
    // lineStarts_[i]: offset of line i's first character. Always holds at least line 0.
    std::vector<qsizetype> lineStarts_{0};
    qsizetype indexed_ = 0;
    bool stale_ = false;
    qsizetype widest_ = 0;      // widest finished line, in cells
    qsizetype openColumns_ = 0; // cells of the last line so far

    qsizetype anchor_ = 0;
    qsizetype position_ = 0;
    bool selecting_ = false;

    int lineHeight_ = 1;
    int ascent_ = 0;
    qreal cellWidth_ = 1;
    bool perCell_ = false; // the font is not fixed-pitch after all: each cell drawn alone
    int linesPainted_ = 0;
    int changedFrom_ = -1; // first line changed since the last paint; -1: none
};
