#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

// A button that acts on the first click although its window never becomes
// active: the bar must not take the focus from the application being
// recorded.
class FirstClickButton : public QAbstractButton {
    Q_OBJECT
public:
    FirstClickButton(const QString &symbol, const QColor &background, QWidget *parent);

    QString symbol() const { return m_symbol; }
    // The symbol and the text used as tool tip and accessible name.
    void setSymbol(const QString &symbol, const QString &label);

protected:
    void paintEvent(QPaintEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;

private:
    QString m_symbol;
    QColor m_background;
    bool m_hovered = false;
};
