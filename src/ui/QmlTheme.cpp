#include "QmlTheme.h"

#include "theme/Theme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

QmlTheme::QmlTheme(QObject *parent)
    : QObject(parent)
{
    // The desktop may switch between light and dark while Velunta runs.
    if (qApp)
        qApp->installEventFilter(this);
}

bool QmlTheme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        emit colorsChanged();
    return QObject::eventFilter(watched, event);
}

void QmlTheme::setAppearance(int appearance)
{
    if (appearance < System || appearance > Dark || appearance == m_appearance)
        return;
    m_appearance = appearance;
    emit appearanceChanged();
    emit colorsChanged();
}

bool QmlTheme::isDark() const
{
    if (m_appearance == System)
        return Theme::systemIsDark();
    return m_appearance == Dark;
}

QColor QmlTheme::canvas() const
{
    return Theme::canvas.resolve(isDark());
}
QColor QmlTheme::surface() const
{
    return Theme::surface.resolve(isDark());
}
QColor QmlTheme::ink() const
{
    return Theme::ink.resolve(isDark());
}
QColor QmlTheme::inkSoft() const
{
    return Theme::inkSoft.resolve(isDark());
}
QColor QmlTheme::line() const
{
    return Theme::line.resolve(isDark());
}
QColor QmlTheme::onInk() const
{
    return Theme::onInk.resolve(isDark());
}
QColor QmlTheme::rec() const
{
    return Theme::rec.resolve(isDark());
}
QColor QmlTheme::onRec() const
{
    return Theme::onRec.resolve(isDark());
}
QColor QmlTheme::warning() const
{
    return Theme::warning.resolve(isDark());
}
QColor QmlTheme::rail() const
{
    return Theme::rail;
}
QColor QmlTheme::hudRec() const
{
    return Theme::hudRec;
}
QColor QmlTheme::accent() const
{
    return QGuiApplication::palette().color(QPalette::Highlight);
}

qreal QmlTheme::filledButtonOpacity(bool isEnabled, bool isPressed, bool isHovered) const
{
    return Theme::filledButtonOpacity(isEnabled, isPressed, isHovered);
}
