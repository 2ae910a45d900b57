#pragma once
// The program's push button: white face, 8.25 pt caption with an access key ("&Exit"),
// a 16 x 16 icon beside the caption and a visible focus mark.

#include <QPushButton>

class PushButton : public QPushButton {
    Q_OBJECT
public:
    // iconResource: a resource path such as ":/icons/exit.png"; empty for no icon.
    PushButton(const QString& caption, const QString& iconResource, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
