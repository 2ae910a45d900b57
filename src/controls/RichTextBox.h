#pragma once
// A text box whose text reads back exactly as it was inserted (CR LF pairs included) and
// which can carry formatted runs. The box keeps the text in a buffer of its own, with the
// caret and the attributes of every run; the widget inside only displays that buffer.

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

class QTextEdit;

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
    explicit RichTextBox(QWidget* parent = nullptr);
    ~RichTextBox() override;

    // The whole text, exactly as inserted.
    const QString& Text() const { return text_; }
    // Replaces the whole text; the caret goes to offset 0 and the selection is dropped.
    void SetText(const QString& text);
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

    // For tests and tools: the runs as held, in order.
    struct Run {
        QString text;
        TextAttributes attributes;
    };
    const std::vector<Run>& Runs() const { return runs_; }

    // The widget that shows the text, for focus handling and screenshots.
    QTextEdit* View() const { return view_; }

    // The display is brought up to date on the next pass of the event loop, so a burst of
    // insertions is drawn once. This brings it up to date now (for tests and screenshots).
    void FlushRender();
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
    void Replace(int start, int length, const QString& text);

    QString text_;
    std::vector<Run> runs_;
    int selStart_ = 0;
    int selLength_ = 0;
    TextAttributes attributes_;
    QTextEdit* view_ = nullptr;
    bool renderPending_ = false;
    // The display shows text_ up to renderedLength_; from dirtyFrom_ on it is out of date.
    // When only text at the end was added the display is extended instead of rebuilt.
    int renderedLength_ = 0;
    int dirtyFrom_ = 0;
    bool dirty_ = false;
    int renderCount_ = 0;
};
