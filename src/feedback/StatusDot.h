#pragma once

#include <QColor>
#include <QWidget>

// The round status dot.
class StatusDot : public QWidget {
    Q_OBJECT
public:
    explicit StatusDot(QWidget *parent);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color;
};
