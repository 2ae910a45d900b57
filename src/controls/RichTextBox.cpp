#include "RichTextBox.h"

#include "Labels.h"
#include "Twips.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace {

bool IsLineBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

QTextCharFormat CharFormatFor(const TextAttributes& a) {
    QTextCharFormat format;
    if (!a.fontName.isEmpty()) {
        format.setFontFamilies(QStringList{a.fontName});
    }
    if (a.pointSize > 0) {
        format.setFontPointSize(a.pointSize);
    }
    format.setForeground(a.color.isValid() ? a.color : QColor(Qt::black));
    format.setFontWeight(a.emphasis ? QFont::Bold : QFont::Normal);
    return format;
}

QTextBlockFormat BlockFormatFor(const TextAttributes& a) {
    QTextBlockFormat format;
    if (a.alignment & Qt::AlignHCenter) {
        format.setAlignment(Qt::AlignHCenter);
    } else if (a.alignment & Qt::AlignRight) {
        format.setAlignment(Qt::AlignRight);
    } else {
        format.setAlignment(Qt::AlignLeft);
    }
    format.setLeftMargin(TwipsToPx(std::max(0, a.indentTwips)));
    return format;
}

// Characters that a QTextDocument turns into structure of its own.
bool IsDocumentControl(char16_t u) {
    return u == 0x2028 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1 || u == 0xFFFC;
}

// QTextCursor::insertText turns these into paragraph or frame boundaries of its own; the
// display must show one line break per CR, LF or CR LF and nothing else, so they are drawn as
// replacement characters. Device text is 8-bit and never holds them; the buffer keeps them.
QString DisplayText(const QString& text, qsizetype from, qsizetype length) {
    QString segment = text.mid(from, length);
    for (QChar& c : segment) {
        const char16_t u = c.unicode();
        if (IsDocumentControl(u)) {
            c = QChar::ReplacementCharacter;
        }
    }
    return segment;
}

// text[from, from + length) as the plain view shows it: CR LF, a lone CR and a lone LF each
// become one '\n' (one line break), also when the CR was drawn in an earlier batch.
QString PlainDisplayText(const QString& text, qsizetype from, qsizetype length) {
    QString shown;
    shown.resize(length);
    QChar* out = shown.data();
    const QChar* in = text.constData();
    for (qsizetype i = from; i < from + length; ++i) {
        const char16_t u = in[i].unicode();
        if (u == u'\n' && i > 0 && in[i - 1] == u'\r') {
            continue;
        }
        if (u == u'\r') {
            *out++ = QChar(u'\n');
        } else if (IsDocumentControl(u)) {
            *out++ = QChar::ReplacementCharacter;
        } else {
            *out++ = in[i];
        }
    }
    shown.truncate(out - shown.constData());
    return shown;
}

// Where buffer offset `offset` falls in the plain view: the LF of every CR LF before it takes
// no place there.
int PlainDisplayOffset(const QString& text, int offset) {
    int shown = offset;
    const QChar* in = text.constData();
    for (int i = 1; i < offset; ++i) {
        if (in[i] == u'\n' && in[i - 1] == u'\r') {
            --shown;
        }
    }
    return shown;
}

QChar ShownAs(QChar c) {
    if (c == u'\r') {
        return QChar(u'\n');
    }
    return IsDocumentControl(c.unicode()) ? QChar(QChar::ReplacementCharacter) : c;
}

// How much of the plain view stays when the text `before`, shown up to beforeLength, is
// replaced by `after`: the characters on screen both begin with, and the offset in `after`
// where they end. Rewriting a download's line ends changes CR LF into LF, which looks the same,
// so the two usually differ only at the very end.
struct SharedDisplay {
    int shown = 0;
    int offset = 0;
};

SharedDisplay SharedDisplayPrefix(const QString& before, int beforeLength, const QString& after) {
    const QChar* a = before.constData();
    const QChar* b = after.constData();
    const int afterLength = static_cast<int>(after.size());
    int i = 0;
    int j = 0;
    int shown = 0;
    for (;;) {
        // The LF of a CR LF takes no place on screen.
        if (i < beforeLength && i > 0 && a[i] == u'\n' && a[i - 1] == u'\r') {
            ++i;
        }
        if (j < afterLength && j > 0 && b[j] == u'\n' && b[j - 1] == u'\r') {
            ++j;
        }
        if (i >= beforeLength || j >= afterLength || ShownAs(a[i]) != ShownAs(b[j])) {
            break;
        }
        ++i;
        ++j;
        ++shown;
    }
    return {shown, j};
}

} // namespace

RichTextBox::RichTextBox(QWidget* parent, Display display) : QWidget(parent), display_(display) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    if (display_ == Display::Plain) {
        plainView_ = new QPlainTextEdit(this);
        plainView_->setReadOnly(true);
        plainView_->setUndoRedoEnabled(false);
        plainView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    } else {
        view_ = new QTextEdit(this);
        view_->setReadOnly(true);
        view_->setUndoRedoEnabled(false);
        view_->setAcceptRichText(false);
        view_->setLineWrapMode(QTextEdit::WidgetWidth);
    }
    QAbstractScrollArea* shown = DisplayWidget();
    layout->addWidget(shown);
    // The widget's font becomes the document's default: the typeface of runs that name none.
    shown->setFont(ProgramFont(8.25));
    shown->setFocusPolicy(Qt::StrongFocus);
    shown->installEventFilter(this);

    // The box itself takes part in tab order and hands the focus on to the view.
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(shown);

    renderTimer_.setSingleShot(true);
    connect(&renderTimer_, &QTimer::timeout, this, &RichTextBox::Render);
}

QAbstractScrollArea* RichTextBox::DisplayWidget() const {
    if (plainView_) {
        return plainView_;
    }
    return view_;
}

RichTextBox::~RichTextBox() = default;

void RichTextBox::SetText(const QString& text) {
    const bool wasEmpty = text_.isEmpty();
    // Only a view that shows the old text as it is can keep part of it.
    const bool shownAsIs = !(dirty_ && dirtyFrom_ < renderedLength_);
    SharedDisplay shared;
    if (plainView_ && shownAsIs) {
        shared = SharedDisplayPrefix(text_, renderedLength_, text);
    }
    text_ = text;
    runs_.clear();
    if (!text_.isEmpty()) {
        runs_.push_back({text_, attributes_});
    }
    selStart_ = 0;
    selLength_ = 0;
    if (!(wasEmpty && text_.isEmpty())) {
        MarkDirty(0);
        keepValid_ = plainView_ && shownAsIs;
        keepShown_ = shared.shown;
        keepFrom_ = shared.offset;
    }
}

void RichTextBox::SetSelText(const QString& text) {
    Replace(selStart_, selLength_, text);
    selStart_ += static_cast<int>(text.size());
    selLength_ = 0;
}

void RichTextBox::SetSelStart(int offset) {
    selStart_ = std::clamp(offset, 0, static_cast<int>(text_.size()));
    selLength_ = 0;
}

void RichTextBox::SetSelLength(int length) {
    selLength_ = std::clamp(length, 0, static_cast<int>(text_.size()) - selStart_);
}

void RichTextBox::SetSelFontName(const QString& name) {
    attributes_.fontName = name;
}
void RichTextBox::SetSelFontSize(double points) {
    attributes_.pointSize = std::max(0.0, points);
}
void RichTextBox::SetSelColor(const QColor& color) {
    attributes_.color = color;
}
void RichTextBox::SetSelBold(bool on) {
    attributes_.emphasis = on;
}
void RichTextBox::SetSelAlignment(Qt::Alignment alignment) {
    attributes_.alignment = alignment;
}
void RichTextBox::SetSelIndent(int twips) {
    attributes_.indentTwips = twips;
}

void RichTextBox::Replace(int start, int length, const QString& text) {
    if (length == 0 && text.isEmpty()) {
        return;
    }
    const int size = static_cast<int>(text_.size());

    // Appending is what downloads do chunk after chunk: it must stay amortised constant.
    if (length == 0 && start == size) {
        text_.append(text);
        if (!runs_.empty() && runs_.back().attributes == attributes_) {
            runs_.back().text.append(text);
        } else {
            runs_.push_back({text, attributes_});
        }
        MarkDirty(start);
        return;
    }

    // Anywhere else: rebuild the run list around the replaced range. Whole runs are shared,
    // not copied, so this costs one pass over the runs.
    std::vector<Run> rebuilt;
    rebuilt.reserve(runs_.size() + 2);
    auto push = [&rebuilt](QString piece, const TextAttributes& attributes) {
        if (piece.isEmpty()) {
            return;
        }
        if (!rebuilt.empty() && rebuilt.back().attributes == attributes) {
            rebuilt.back().text.append(piece);
        } else {
            rebuilt.push_back({std::move(piece), attributes});
        }
    };
    const int end = start + length;
    int offset = 0;
    for (const Run& run : runs_) {
        const int runStart = offset;
        offset += static_cast<int>(run.text.size());
        if (runStart < start) {
            push(run.text.left(std::min(offset, start) - runStart), run.attributes);
        }
    }
    push(text, attributes_);
    offset = 0;
    for (const Run& run : runs_) {
        const int runStart = offset;
        offset += static_cast<int>(run.text.size());
        if (offset > end) {
            push(run.text.mid(std::max(runStart, end) - runStart), run.attributes);
        }
    }
    runs_ = std::move(rebuilt);
    text_.replace(start, length, text);
    keepValid_ = false;
    MarkDirty(start);
}

void RichTextBox::MarkDirty(int offset) {
    dirtyFrom_ = dirty_ ? std::min(dirtyFrom_, offset) : offset;
    dirty_ = true;
    ScheduleRender();
}

void RichTextBox::ScheduleRender() {
    if (renderTimer_.isActive()) {
        return;
    }
    // The first change after a quiet spell is drawn on the next pass of the event loop; while
    // changes keep coming they are gathered and drawn once per RenderGapMs.
    int delay = 0;
    if (sinceRender_.isValid()) {
        delay = static_cast<int>(std::max<qint64>(0, RenderGapMs - sinceRender_.elapsed()));
    }
    renderTimer_.start(delay);
}

void RichTextBox::FlushRender() {
    renderTimer_.stop();
    Render();
}

void RichTextBox::Render() {
    if (!dirty_) {
        return;
    }
    // Text added behind what is shown only extends the display; any other change rebuilds it.
    const int from = dirtyFrom_ >= renderedLength_ ? renderedLength_ : 0;
    if (plainView_) {
        RenderPlainFrom(from);
    } else {
        RenderFrom(from);
    }
    dirty_ = false;
    keepValid_ = false;
    ++renderCount_;
    sinceRender_.start();
}

// The plain view: text_[from, end) behind what it already shows (from == 0: the whole text),
// inserted in one piece so that its cost is that of the new text alone.
void RichTextBox::RenderPlainFrom(int from) {
    const int size = static_cast<int>(text_.size());
    QTextDocument* document = plainView_->document();
    if (from == 0 && keepValid_ && keepShown_ > 0) {
        QTextCursor tail(document);
        tail.setPosition(std::min(keepShown_, document->characterCount() - 1));
        tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        tail.insertText(PlainDisplayText(text_, keepFrom_, size - keepFrom_));
    } else if (from == 0) {
        plainView_->setPlainText(PlainDisplayText(text_, 0, size));
    } else {
        QTextCursor end(document);
        end.movePosition(QTextCursor::End);
        end.insertText(PlainDisplayText(text_, from, size - from));
    }
    renderedLength_ = size;

    // Follow the caret, as a text box does when text is appended at its end.
    QTextCursor shown(document);
    if (selStart_ >= size) {
        shown.movePosition(QTextCursor::End);
    } else {
        shown.setPosition(
            std::min(PlainDisplayOffset(text_, selStart_), document->characterCount() - 1));
    }
    plainView_->setTextCursor(shown);
    plainView_->ensureCursorVisible();
    if (selStart_ >= size) {
        QScrollBar* bar = plainView_->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

// Shows text_[from, end) behind what the display already holds (from == 0: the whole text).
//
// Line breaks: CR LF, a lone CR and a lone LF each end one paragraph, also when the CR ends
// one run and its LF starts the next. Paragraph attributes: a paragraph takes those of the last
// run that put characters into it; a run that begins at the start of a paragraph counts for it
// even when it begins with a line break, and paragraphs opened by a run's line breaks start
// with that run's attributes. So "Instructions\r\n" followed by an indented run leaves the
// heading unindented and indents everything after it.
void RichTextBox::RenderFrom(int from) {
    QTextDocument* document = view_->document();
    if (from == 0) {
        document->clear();
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();

    const int caret = selStart_;
    int caretPosition = -1; // where the caret falls in the document, when it lies in [from, end]

    bool pendingCr = from > 0 && text_.at(from - 1) == u'\r';
    bool atParagraphStart = from == 0 || IsLineBreak(text_.at(from - 1));

    // Find the run holding offset `from` by walking back from the end: when extending, only
    // the last few runs are visited.
    std::size_t index = runs_.size();
    int runStart = static_cast<int>(text_.size());
    while (index > 0 && runStart > from) {
        --index;
        runStart -= static_cast<int>(runs_[index].text.size());
    }

    for (; index < runs_.size(); ++index) {
        const Run& run = runs_[index];
        const int runLength = static_cast<int>(run.text.size());
        const int begin = std::max(from, runStart) - runStart;
        const int absolute = runStart; // offset of run.text[0] in text_
        runStart += runLength;
        if (begin >= runLength) {
            continue;
        }
        const QTextCharFormat charFormat = CharFormatFor(run.attributes);
        const QTextBlockFormat blockFormat = BlockFormatFor(run.attributes);
        bool blockFormatted = false; // the current paragraph already carries this run's format
        if (begin == 0 && atParagraphStart) {
            cursor.setBlockFormat(blockFormat);
            cursor.setBlockCharFormat(charFormat);
            blockFormatted = true;
        }

        auto flush = [&](int segmentStart, int segmentEnd) {
            if (segmentEnd <= segmentStart) {
                return;
            }
            if (caret >= absolute + segmentStart && caret < absolute + segmentEnd) {
                caretPosition = cursor.position() + (caret - absolute - segmentStart);
            }
            if (!blockFormatted) {
                cursor.setBlockFormat(blockFormat);
                blockFormatted = true;
            }
            cursor.insertText(DisplayText(run.text, segmentStart, segmentEnd - segmentStart),
                              charFormat);
            pendingCr = false;
            atParagraphStart = false;
        };

        int segmentStart = begin;
        for (int i = begin; i < runLength; ++i) {
            const QChar c = run.text.at(i);
            if (!IsLineBreak(c)) {
                continue;
            }
            flush(segmentStart, i);
            segmentStart = i + 1;
            if (caret == absolute + i) {
                caretPosition = cursor.position();
            }
            if (c == u'\n' && pendingCr) {
                pendingCr = false; // second half of a CR LF pair: the CR has broken the line
                continue;
            }
            cursor.insertBlock(blockFormat, charFormat);
            blockFormatted = true;
            atParagraphStart = true;
            pendingCr = c == u'\r';
        }
        flush(segmentStart, runLength);
    }
    cursor.endEditBlock();
    renderedLength_ = static_cast<int>(text_.size());

    // Follow the caret, as a text box does when text is appended at its end.
    if (caret == renderedLength_) {
        caretPosition = document->characterCount() - 1;
    }
    if (caretPosition >= 0) {
        QTextCursor shown(document);
        shown.setPosition(std::min(caretPosition, document->characterCount() - 1));
        view_->setTextCursor(shown);
        view_->ensureCursorVisible();
        if (caret == renderedLength_) {
            // Down to the document's bottom margin, so the end of the text never looks cut off.
            QScrollBar* bar = view_->verticalScrollBar();
            bar->setValue(bar->maximum());
        }
    }
}

bool RichTextBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DisplayWidget() && event->type() == QEvent::FocusIn) {
        emit GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}
