#include "Labels.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

constexpr const char* ProgramFamily = "MS Sans Serif";

// "MS Sans Serif" is a Windows bitmap face; elsewhere Qt would fall back to whatever fontconfig
// offers, which is often DejaVu Sans and is too wide for the fixed-size caption boxes (a bold
// "Product ID:" nearly fills its 73 px field). The faces listed first share the narrow, Arial-like
// widths of the original; DejaVu Sans stays as the last resort.
void RegisterFamilySubstitutes() {
    static const bool registered = [] {
        if (!QFontDatabase::hasFamily(QString::fromLatin1(ProgramFamily))) {
            QFont::insertSubstitutions(QString::fromLatin1(ProgramFamily),
                                       {QStringLiteral("Microsoft Sans Serif"),
                                        QStringLiteral("Tahoma"), QStringLiteral("Arial"),
                                        QStringLiteral("Liberation Sans"),
                                        QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                                        QStringLiteral("DejaVu Sans")});
        }
        return true;
    }();
    (void)registered;
}

} // namespace

QFont ProgramFont(double points, bool bold) {
    RegisterFamilySubstitutes();
    QFont font(QString::fromLatin1(ProgramFamily));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* MakeCaptionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(ProgramFont(8.25, true));
    label->setFrameShape(QFrame::NoFrame);
    label->setAutoFillBackground(false); // the window's own background shows through
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* MakeValueLabel(const QString& text, bool bold, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(ProgramFont(8.25, bold));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A thin frame keeps the white field visible on a white window as well; the padding is the
    // small offset of the caption from the left edge.
    label->setStyleSheet(
        QStringLiteral("QLabel { background-color: white; color: black; border: 1px solid #a0a0a0; "
                       "padding-left: 3px; padding-right: 2px; }"));
    label->setAutoFillBackground(true);
    return label;
}
