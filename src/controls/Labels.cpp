#include "Labels.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>
#include <cmath>

// Q_INIT_RESOURCE has to be used outside any namespace; referencing it keeps the faces in the
// static library.
static void InitFontResource() {
    Q_INIT_RESOURCE(fonts);
}

namespace {

const QString OwnFamily = QStringLiteral("Liberation Sans");

// A line of the windows' own words. Its width in Liberation Sans, in ems (the face's advance
// widths, 2048 units to the em): regular and bold.
const QString WidthSample =
    QStringLiteral("The RZT Device was found on Port # 12. Chronograph Only, Product ID: Status: Ready");
constexpr double OwnSampleEm = 79039.0 / 2048.0;
constexpr double OwnSampleEmBold = 83826.0 / 2048.0;

void RegisterFaces() {
    static const bool registered = [] {
        InitFontResource();
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/LiberationSans-Regular.ttf"));
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/LiberationSans-Bold.ttf"));
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/LiberationMono-Regular.ttf"));
        // Only if the faces above could not be loaded: the narrow Arial-like faces first, then
        // whatever the machine has (DejaVu Sans on a plain Linux desktop), condensed below.
        QFont::insertSubstitutions(OwnFamily,
                                   {QStringLiteral("Arial"), QStringLiteral("Arimo"),
                                    QStringLiteral("Microsoft Sans Serif"),
                                    QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans"),
                                    QStringLiteral("DejaVu Sans")});
        return true;
    }();
    (void)registered;
}

// Measured unhinted at a large size, so the figure is the face's design and not the rounding of
// one pixel size.
double SampleEm(const QFont& font) {
    QFont big(font);
    big.setPixelSize(2048);
    big.setStretch(QFont::Unstretched);
    big.setHintingPreference(QFont::PreferNoHinting);
    return QFontMetricsF(big).horizontalAdvance(WidthSample) / 2048.0;
}

} // namespace

int CondensedStretch(double sampleEm, double ownEm) {
    if (!(sampleEm > 0) || !(ownEm > 0) || sampleEm <= ownEm * 1.005) return 100;
    // Rounded down, so the result is never wider than the program's own face.
    return std::max(50, static_cast<int>(std::floor(100.0 * ownEm / sampleEm)));
}

QFont ProgramFont(double points, bool bold) {
    RegisterFaces();
    QFont font(OwnFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    if (QFontInfo(font).family() != OwnFamily) {
        font.setStretch(CondensedStretch(SampleEm(font), bold ? OwnSampleEmBold : OwnSampleEm));
    }
    return font;
}

QFont ProgramFixedPitchFont(double points) {
    RegisterFaces();
    QFont font(QStringLiteral("Liberation Mono"));
    if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (points > 0) font.setPointSizeF(points);
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
