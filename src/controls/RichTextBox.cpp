#include "RichTextBox.h"

#include "Labels.h"
#include "Twips.h"

#include <QEvent>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
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

// QTextCursor::insertText turns these into paragraph or frame boundaries of its own; the
// display must show one line break per CR, LF or CR LF and nothing else, so they are drawn as
// replacement characters. Device text is 8-bit and never holds them; the buffer keeps them.
QString DisplayText(const QString& text, qsizetype from, qsizetype length) {
    QString segment = text.mid(from, length);
    for (QChar& c : segment) {
        const char16_t u = c.unicode();
        if (u == 0x2028 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1 || u == 0xFFFC) {
            c = QChar::ReplacementCharacter;
        }
    }
    return segment;
}

} // namespace

RichTextBox::RichTextBox(QWidget* parent) : QWidget(parent), view_(new QTextEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    view_->setReadOnly(true);
    view_->setUndoRedoEnabled(false);
    view_->setAcceptRichText(false);
    view_->setLineWrapMode(QTextEdit::WidgetWidth);
    // The widget's font becomes the document's default: the typeface of runs that name none.
    view_->setFont(ProgramFont(8.25));
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->installEventFilter(this);

    // The box itself takes part in tab order and hands the focus on to the view.
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(view_);
}

RichTextBox::~RichTextBox() = default;

void RichTextBox::SetText(const QString& text) {
    const bool wasEmpty = text_.isEmpty();
    text_ = text;
    runs_.clear();
    if (!text_.isEmpty()) {
        runs_.push_back({text_, attributes_});
    }
    selStart_ = 0;
    selLength_ = 0;
    if (!(wasEmpty && text_.isEmpty())) {
        MarkDirty(0);
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
    MarkDirty(start);
}

void RichTextBox::MarkDirty(int offset) {
    dirtyFrom_ = dirty_ ? std::min(dirtyFrom_, offset) : offset;
    dirty_ = true;
    ScheduleRender();
}

void RichTextBox::ScheduleRender() {
    if (renderPending_) {
        return;
    }
    renderPending_ = true;
    QTimer::singleShot(0, this, [this] { Render(); });
}

void RichTextBox::FlushRender() {
    Render();
}

void RichTextBox::Render() {
    renderPending_ = false;
    if (!dirty_) {
        return;
    }
    // Text added behind what is shown only extends the display; any other change rebuilds it.
    RenderFrom(dirtyFrom_ >= renderedLength_ ? renderedLength_ : 0);
    dirty_ = false;
    ++renderCount_;
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
    if (watched == view_ && event->type() == QEvent::FocusIn) {
        emit GotFocus();
    }
    return QWidget::eventFilter(watched, event);
}
