#pragma once

#include <QLabel>

// The elapsed time, its digits drawn at equal widths so that the text does
// not shift while it counts.
class ClockLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override;
};
