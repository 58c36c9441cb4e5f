#include "SelectionView.h"

#include "SelectionGeometry.h"
#include "TabularDigits.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

using namespace SelectionGeometry;

// Digits of equal width: the size label keeps its box while the numbers change.
QSizeF textSize(const QFont &font, const QString &text)
{
    return TabularDigits::size(font, text);
}

void drawLabel(QPainter &painter, const QFont &font, const QString &text, const QRectF &box)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, labelBoxOpacity));
    painter.drawRoundedRect(box, labelCornerRadius, labelCornerRadius);
    painter.setPen(Qt::white);
    TabularDigits::draw(
        painter, font, QRectF(labelTextOrigin(box), textSize(font, text)), Qt::AlignLeft | Qt::AlignTop, text);
}

} // namespace

SelectionView::SelectionView(QSize size, QImage still, QWidget *parent)
    : QWidget(parent)
    , m_still(std::move(still))
    , m_font(labelFont())
{
    resize(size);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    if (!m_still.isNull()) {
        // Dimmed once here rather than blended over the whole screen at
        // every mouse move.
        m_dimmedStill = m_still.convertToFormat(QImage::Format_RGB32);
        m_dimmedStill.setDevicePixelRatio(m_still.devicePixelRatio());
        QPainter dim(&m_dimmedStill);
        dim.fillRect(
            QRectF(QPointF(0, 0), m_dimmedStill.deviceIndependentSize()), QColor::fromRgbF(0, 0, 0, dimmingOpacity));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
}

void SelectionView::clearSelection()
{
    const QRect before = decorationArea();
    m_dragStart.reset();
    m_selection.reset();
    changed(before);
}

std::optional<SelectionView::Label> SelectionView::currentLabel() const
{
    if (m_selection) {
        const qreal scale = m_pixelScale > 0       ? m_pixelScale
            : window() && window()->windowHandle() ? devicePixelRatioF()
                                                   : 1.0;
        const QString text = sizeLabel(m_selection->size(), scale);
        return Label {text, labelBox(sizeLabelPoint(*m_selection, height()), textSize(m_font, text), width())};
    }
    if (m_dragStart)
        return std::nullopt;
    const QString text = hintText();
    const QSizeF size = textSize(m_font, text);
    return Label {text, labelBox(hintPoint(size, QSizeF(this->size())), size, width())};
}

QRect SelectionView::decorationArea() const
{
    QRectF area;
    if (m_selection)
        area = outlineRect(*m_selection).adjusted(-1, -1, 1, 1);
    if (const auto label = currentLabel())
        area = area.united(label->box);
    return area.toAlignedRect().adjusted(-1, -1, 1, 1);
}

void SelectionView::changed(QRect before)
{
    // The dimming only changes where the hole, outline and labels were or are.
    update(QRegion(before) | QRegion(decorationArea()));
}

QPointF SelectionView::clamped(QPointF position) const
{
    return clampToView(position, QSizeF(size()));
}

void SelectionView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    QRegion outside(event->rect());
    if (m_selection)
        outside -= QRegion(m_selection->toRect());
    if (!m_dimmedStill.isNull()) {
        painter.save();
        painter.setClipRegion(outside);
        painter.drawImage(bounds, m_dimmedStill);
        painter.restore();
        if (m_selection) {
            painter.save();
            painter.setClipRect(*m_selection);
            painter.drawImage(bounds, m_still);
            painter.restore();
        }
    } else {
        // The compositing manager shows what is below; the hole stays clear.
        QPainterPath dimming;
        dimming.setFillRule(Qt::OddEvenFill);
        dimming.addRect(bounds);
        if (m_selection)
            dimming.addRect(*m_selection);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(event->rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillPath(dimming, QColor::fromRgbF(0, 0, 0, dimmingOpacity));
    }

    painter.setRenderHint(QPainter::Antialiasing);
    if (m_selection) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outlineRect(*m_selection));
    }
    if (const auto label = currentLabel())
        drawLabel(painter, m_font, label->text, label->box);

    if (!m_hasPainted) {
        m_hasPainted = true;
        emit firstPaint();
    }
}

void SelectionView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        if (onCancel)
            onCancel();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (onDragStarted)
        onDragStarted();
    const QRect before = decorationArea();
    m_dragStart = clamped(event->position());
    m_selection.reset();
    changed(before);
}

void SelectionView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragStart || !(event->buttons() & Qt::LeftButton))
        return;
    const QRect before = decorationArea();
    m_selection = selectionRect(*m_dragStart, clamped(event->position()));
    changed(before);
}

void SelectionView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragStart)
        return;
    m_dragStart.reset();
    if (m_selection && isLargeEnough(*m_selection)) {
        // The selection stays on screen until the window goes away.
        if (onSelected)
            onSelected(*m_selection);
        return;
    }
    const QRect before = decorationArea();
    m_selection.reset();
    changed(before);
}

void SelectionView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (onCancel)
            onCancel();
        return;
    }
    QWidget::keyPressEvent(event);
}
