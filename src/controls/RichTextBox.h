#pragma once
// A text box whose text reads back exactly as it was inserted (CR LF pairs included) and
// which can carry formatted runs. The box keeps the text in a buffer of its own, with the
// caret and the attributes of every run; the widget inside only displays that buffer.

#include <QColor>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class QAbstractScrollArea;
class QTextEdit;
class TextView;

struct TextAttributes {
    QString fontName;                       // empty: the box's default typeface
    double pointSize = 0;                   // 0: the box's default size
    QColor color = Qt::black;
    bool emphasis = false;                  // shown as bold
    Qt::Alignment alignment = Qt::AlignLeft; // left or centred
    int indentTwips = 0;                    // left indent of the paragraph

    bool operator==(const TextAttributes&) const = default;
};

class RichTextBox : public QWidget {
    Q_OBJECT
public:
    // How the buffer is shown. Formatted draws every run with its attributes. Plain draws the
    // characters only, in a fixed-pitch view that reads them straight from the buffer and
    // draws just the lines on screen: for long device text, where laying out a document would
    // stall the window. The buffer, its runs and every operation below are the same either way.
    enum class Display { Formatted, Plain };

    explicit RichTextBox(QWidget* parent = nullptr, Display display = Display::Formatted);
    ~RichTextBox() override;

    // The whole text, exactly as inserted.
    const QString& Text() const { return text_; }
    // Replaces the whole text; the caret goes to offset 0 and the selection is dropped.
    void SetText(QString text);
    void Clear() { SetText(QString()); }

    // Inserts at the caret, replacing any selection; the caret ends after the inserted text.
    // The attributes set beforehand apply to the inserted text.
    void SetSelText(const QString& text);

    int SelStart() const { return selStart_; }
    // Offsets past the end are clamped to the length of the text.
    void SetSelStart(int offset);
    int SelLength() const { return selLength_; }
    void SetSelLength(int length);

    // Attributes for the next insertion; they stay in force until changed.
    void SetSelFontName(const QString& name);
    void SetSelFontSize(double points);
    void SetSelColor(const QColor& color);
    void SetSelBold(bool on);
    void SetSelAlignment(Qt::Alignment alignment);
    void SetSelIndent(int twips);
    const TextAttributes& SelAttributes() const { return attributes_; }

    // For tests and tools: the runs, in order, each with a copy of its text.
    struct Run {
        QString text;
        TextAttributes attributes;
    };
    std::vector<Run> Runs() const;

    Display DisplayKind() const { return display_; }
    // The widget that shows the text, for focus handling and screenshots: View() for a
    // formatted box, PlainView() for a plain one (the other is null); DisplayWidget() either.
    QTextEdit* View() const { return view_; }
    TextView* PlainView() const { return plainView_; }
    QAbstractScrollArea* DisplayWidget() const;

    // The display is brought up to date from the event loop, at most once per RenderGapMs, so
    // a burst of insertions or a fast stream is drawn a few times a second however many pieces
    // it comes in. This brings it up to date now (for tests and screenshots).
    void FlushRender();
    static constexpr int RenderGapMs = 150;
    // How many times the display has been rebuilt or extended; tests use it to see that
    // bursts are coalesced and that unchanged text is not drawn again.
    int RenderCount() const { return renderCount_; }

signals:
    // The box (or its view) has received the focus.
    void GotFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MarkDirty(int offset);
    void ScheduleRender();
    void Render();
    void RenderFrom(int offset);
    void RenderPlain(bool extend);
    void Replace(int start, int length, const QString& text);

    // A run is a stretch of text_ with one set of attributes; it holds no text of its own, so
    // a long download is kept once, not twice.
    struct Span {
        qsizetype length;
        TextAttributes attributes;
    };

    QString text_;
    std::vector<Span> runs_;
    int selStart_ = 0;
    int selLength_ = 0;
    TextAttributes attributes_;
    Display display_ = Display::Formatted;
    QTextEdit* view_ = nullptr;
    TextView* plainView_ = nullptr;
    QTimer renderTimer_;
    QElapsedTimer sinceRender_; // invalid until the first render
    // The display shows text_ up to renderedLength_; from dirtyFrom_ on it is out of date.
    // When only text at the end was added the display is extended instead of rebuilt.
    int renderedLength_ = 0;
    int dirtyFrom_ = 0;
    bool dirty_ = false;
    int renderCount_ = 0;
};
