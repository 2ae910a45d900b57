#include "RichTextBox.h"

#include "Labels.h"
#include "TextView.h"
#include "Twips.h"

#include <QEvent>
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
    if (a.fontName.isEmpty() || a.fontName == QLatin1String(LaidOutFamily)) {
        // The laid-out face is drawn in the program's own, condensed as its stand-in needs.
        const QFont face = ProgramFont(a.pointSize > 0 ? a.pointSize : 8.25, a.emphasis);
        format.setFontFamilies(face.families());
        format.setFontStretch(face.stretch());
    } else {
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
QString DisplayText(QStringView text, qsizetype from, qsizetype length) {
    QString segment = text.mid(from, length).toString();
    for (QChar& c : segment) {
        const char16_t u = c.unicode();
        if (IsDocumentControl(u)) {
            c = QChar::ReplacementCharacter;
        }
    }
    return segment;
}

} // namespace

RichTextBox::RichTextBox(QWidget* parent, Display display) : QWidget(parent), display_(display) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    if (display_ == Display::Plain) {
        plainView_ = new TextView(this);
        plainView_->SetSource(&text_);
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
    // The plain view keeps to a fixed pitch, at the same size.
    shown->setFont(plainView_ ? TextView::FixedPitchFont(8.25) : ProgramFont(8.25));
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

void RichTextBox::SetText(QString text) {
    const bool wasEmpty = text_.isEmpty();
    text_ = std::move(text);
    runs_.clear();
    if (!text_.isEmpty()) {
        runs_.push_back({text_.size(), attributes_});
    }
    selStart_ = 0;
    selLength_ = 0;
    if (!(wasEmpty && text_.isEmpty())) {
        if (plainView_) plainView_->SourceReplaced();
        MarkDirty(0);
    }
}

std::vector<RichTextBox::Run> RichTextBox::Runs() const {
    std::vector<Run> runs;
    qsizetype offset = 0;
    for (const Span& span : runs_) {
        runs.push_back({text_.mid(offset, span.length), span.attributes});
        offset += span.length;
    }
    return runs;
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
            runs_.back().length += text.size();
        } else {
            runs_.push_back({text.size(), attributes_});
        }
        MarkDirty(start);
        return;
    }

    // Anywhere else: rebuild the run list around the replaced range, in one pass over it.
    std::vector<Span> rebuilt;
    rebuilt.reserve(runs_.size() + 2);
    auto push = [&rebuilt](qsizetype pieceLength, const TextAttributes& attributes) {
        if (pieceLength <= 0) {
            return;
        }
        if (!rebuilt.empty() && rebuilt.back().attributes == attributes) {
            rebuilt.back().length += pieceLength;
        } else {
            rebuilt.push_back({pieceLength, attributes});
        }
    };
    const qsizetype end = start + length;
    qsizetype offset = 0;
    for (const Span& run : runs_) {
        const qsizetype runStart = offset;
        offset += run.length;
        if (runStart < start) {
            push(std::min<qsizetype>(offset, start) - runStart, run.attributes);
        }
    }
    push(text.size(), attributes_);
    offset = 0;
    for (const Span& run : runs_) {
        const qsizetype runStart = offset;
        offset += run.length;
        if (offset > end) {
            push(offset - std::max(runStart, end), run.attributes);
        }
    }
    runs_ = std::move(rebuilt);
    text_.replace(start, length, text);
    if (plainView_) plainView_->SourceReplaced();
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
        RenderPlain(from > 0);
    } else {
        RenderFrom(from);
    }
    dirty_ = false;
    ++renderCount_;
    sinceRender_.start();
}

// The plain view indexes what was added (extend) or the whole new text. Added text is followed
// like a terminal: the view stays at the bottom if it was there, and stays put when the user
// has scrolled up to read. New text shows the line of the caret.
void RichTextBox::RenderPlain(bool extend) {
    const int size = static_cast<int>(text_.size());
    if (extend) {
        const bool follow = plainView_->AtBottom();
        plainView_->Sync();
        if (follow) plainView_->ScrollToBottom();
    } else {
        plainView_->Sync();
        plainView_->horizontalScrollBar()->setValue(0);
        if (selStart_ >= size) {
            plainView_->ScrollToBottom();
        } else {
            plainView_->ShowLine(plainView_->Lines().LineOf(selStart_));
        }
    }
    renderedLength_ = size;
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
        runStart -= static_cast<int>(runs_[index].length);
    }

    for (; index < runs_.size(); ++index) {
        const Span& span = runs_[index];
        const QStringView runText = QStringView(text_).mid(runStart, span.length);
        const int runLength = static_cast<int>(span.length);
        const int begin = std::max(from, runStart) - runStart;
        const int absolute = runStart; // offset of runText[0] in text_
        runStart += runLength;
        if (begin >= runLength) {
            continue;
        }
        const QTextCharFormat charFormat = CharFormatFor(span.attributes);
        const QTextBlockFormat blockFormat = BlockFormatFor(span.attributes);
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
            cursor.insertText(DisplayText(runText, segmentStart, segmentEnd - segmentStart),
                              charFormat);
            pendingCr = false;
            atParagraphStart = false;
        };

        int segmentStart = begin;
        for (int i = begin; i < runLength; ++i) {
            const QChar c = runText.at(i);
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
