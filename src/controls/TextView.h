#pragma once
// A read-only view of a text buffer owned by someone else (the plain text box's buffer). Its
// lines come from a TextLines index, so its cost does not grow with the length of the text:
// appending indexes just the new characters, replacing the text re-indexes it in one pass, and
// a paint touches only the visible lines.
//
// Lines are not wrapped; the view scrolls both ways. Characters are drawn in a fixed-pitch
// font, one cell each (a tab runs to the next tab stop), so that a column is found from a
// position without measuring the line.
//
// The user can select with the mouse and copy (Ctrl+C, or the context menu); the copy holds
// the buffer's characters exactly, CR LF pairs included.
//
// A screen reader reads the same lines as shown text (TextViewAccessible): the view tells it
// what went, what came and where the caret went once per Sync() (much text a piece per turn of
// the event loop), never once per chunk received.

#include "TextLines.h"

#include <QAbstractScrollArea>
#include <QString>
#include <QTimer>

class TextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TextView(QWidget* parent = nullptr);

    static constexpr int TabColumns = TextLines::TabColumns;
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
    const TextLines& Lines() const { return lines_; }
    // How many characters of the buffer the index covers.
    qsizetype IndexedLength() const { return lines_.IndexedLength(); }
    // Every line, joined by LF: what the user reads.
    QString ShownText() const { return lines_.ShownText(); }

    // --- Scrolling ---
    int TopLine() const;
    // Lines and cells that fit the viewport completely (at least 1).
    int VisibleLines() const;
    int VisibleColumns() const;
    bool AtBottom() const;
    void ScrollToBottom();
    // Scrolls as little as needed to show the line.
    void ShowLine(int line);
    // Scrolls as little as needed to show the character at the buffer offset.
    void ShowOffset(qsizetype offset);

    // --- Selection, in buffer offsets; the caret is the end the user moved ---
    qsizetype CaretPosition() const { return position_; }
    qsizetype SelectionStart() const;
    qsizetype SelectionEnd() const;
    void SetSelection(qsizetype anchor, qsizetype position);
    void SelectAll();
    // The selected characters exactly as the buffer holds them.
    QString SelectedText() const;
    // Puts the selected characters on the clipboard; nothing selected: the clipboard stays.
    void Copy() const;

    // The buffer offset under a viewport point (the nearest gap between characters), and the
    // cell of the character at a buffer offset, in viewport coordinates (a line break: one
    // cell behind its line; off screen too).
    qsizetype OffsetAt(const QPoint& viewportPoint) const;
    QRect CellRect(qsizetype offset) const;

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
    void UpdateMetrics();
    void UpdateScrollBars();
    // Asks for a paint of the line's row and those below it.
    void UpdateLinesFrom(int line);
    // Tells a listening screen reader what changed since it was last told: now, or a piece a
    // turn of the event loop when there is much.
    void TellReader();
    void TellMore();
    // What is drawn in a character's cell.
    static QChar Shown(QChar c);

    TextLines lines_;
    qsizetype anchor_ = 0;
    qsizetype position_ = 0;
    bool selecting_ = false;

    int lineHeight_ = 1;
    int ascent_ = 0;
    qreal cellWidth_ = 1;
    bool perCell_ = false; // the font is not fixed-pitch after all: each cell drawn alone
    int linesPainted_ = 0;
    int changedFrom_ = -1; // first line changed since the last paint; -1: none

    // What a screen reader has been told: that many characters of shown text, of which the
    // first toldValid_ are still there.
    qsizetype told_ = 0;
    qsizetype toldValid_ = 0;
    int toldCaret_ = 0;
    QTimer tellTimer_;
};
