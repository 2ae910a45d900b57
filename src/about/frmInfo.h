#pragma once
// The about window: a picture and the credit block, with one button to close it.

#include <QWidget>

class RichTextBox;
class PushButton;
class QLabel;

class frmInfo : public QWidget {
    Q_OBJECT
public:
    explicit frmInfo(QWidget* parent = nullptr);

    // Builds the credit block afresh.
    void Load();

    PushButton* cmdExit = nullptr;
    RichTextBox* txt = nullptr;
    QLabel* Image1 = nullptr;

    // The texts of the credit block.
    static const QString CompanyName;
    static const QString PersonName;
    static const QString PostalBoxLine;
    static const QString CityLine;
};
