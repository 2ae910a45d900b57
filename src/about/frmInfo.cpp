#include "frmInfo.h"

#include "FixedWindow.h"
#include "PushButton.h"
#include "RichTextBox.h"
#include "Twips.h"

#include <QLabel>
#include <QPixmap>

const QString frmInfo::CompanyName = QStringLiteral("Quillwater Design Works");
const QString frmInfo::PersonName = QStringLiteral("Ilse Marrow");
const QString frmInfo::PostalBoxLine = QStringLiteral("P.O. Box 4410");
const QString frmInfo::CityLine = QStringLiteral("Fernhollow, NV 89000");

frmInfo::frmInfo(QWidget* parent) : QWidget(parent) {
    setWindowTitle(CompanyName);
    MakeFixedToolWindow(this, 6855, 2250);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    cmdExit = new PushButton(QStringLiteral("&Exit"), QStringLiteral(":/art/exit.png"), this);
    cmdExit->setGeometry(TwipsRect(5490, 1770, 1275, 405));
    connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);

    txt = new RichTextBox(this);
    txt->setGeometry(TwipsRect(2910, 150, 3885, 1515));

    Image1 = new QLabel(this);
    Image1->setGeometry(TwipsRect(60, 60, 2775, 1620));
    Image1->setPixmap(QPixmap(QStringLiteral(":/art/about.png")));
    Image1->setScaledContents(true);

    setTabOrder(cmdExit, txt);
    cmdExit->setFocus();
}

void frmInfo::Load() {
    const QColor black(0, 0, 0);
    const QColor darkBlue(0, 0, 136);
    struct Line {
        QString text;
        bool emphasis;
        double points;
        QColor colour;
    };
    const Line lines[] = {
        {QStringLiteral("Software Design by:\r\n"), false, 10, black},
        {CompanyName + QStringLiteral("\r\n"), true, 14, darkBlue},
        {PersonName + QStringLiteral("\r\n"), true, 10, black},
        {PostalBoxLine + QStringLiteral("\r\n"), true, 10, black},
        {CityLine + QStringLiteral("\r\n\r\n"), true, 10, black},
    };
    txt->Clear();
    for (const Line& line : lines) {
        txt->SetSelBold(line.emphasis);
        txt->SetSelFontSize(line.points);
        txt->SetSelAlignment(Qt::AlignHCenter);
        txt->SetSelColor(line.colour);
        txt->SetSelText(line.text);
    }
    // Show the block from its first line: the box is not tall enough for the last empty lines
    // with every typeface.
    txt->SetSelStart(0);
}
