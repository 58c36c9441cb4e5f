#include "FirstClickButton.h"

#include "theme/Icons.h"
#include "theme/Theme.h"

#include <QPainter>

namespace {

constexpr qreal cornerRadius = 8;
constexpr int symbolSize = 14;

} // namespace

FirstClickButton::FirstClickButton(const QString &symbol, const QColor &background, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_background(background)
{
    // Taking the keyboard focus would make Qt ask for the window's activation.
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void FirstClickButton::setSymbol(const QString &symbol, const QString &label)
{
    m_symbol = symbol;
    setToolTip(label);
    setAccessibleName(label);
    setAccessibleDescription(label);
    update();
}

void FirstClickButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(Theme::filledButtonOpacity(isEnabled(), isDown(), m_hovered));
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    const qreal ratio = devicePixelRatioF();
    QImage image = Icons::render(m_symbol, Qt::white, QSize(symbolSize, symbolSize) * ratio);
    image.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0), image);
}

void FirstClickButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void FirstClickButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
