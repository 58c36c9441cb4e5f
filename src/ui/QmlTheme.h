#pragma once

#include <QColor>
#include <QObject>

// The palette for the QML views: the colours of Theme resolved for the
// current appearance. The appearance follows the desktop's palette unless an
// explicit light or dark one is asked for (snapshots render both).
class QmlTheme : public QObject {
    Q_OBJECT
    Q_PROPERTY(int appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(bool isDark READ isDark NOTIFY colorsChanged)
    Q_PROPERTY(QColor canvas READ canvas NOTIFY colorsChanged)
    Q_PROPERTY(QColor surface READ surface NOTIFY colorsChanged)
    Q_PROPERTY(QColor ink READ ink NOTIFY colorsChanged)
    Q_PROPERTY(QColor inkSoft READ inkSoft NOTIFY colorsChanged)
    Q_PROPERTY(QColor line READ line NOTIFY colorsChanged)
    Q_PROPERTY(QColor onInk READ onInk NOTIFY colorsChanged)
    Q_PROPERTY(QColor rec READ rec NOTIFY colorsChanged)
    Q_PROPERTY(QColor onRec READ onRec NOTIFY colorsChanged)
    Q_PROPERTY(QColor warning READ warning NOTIFY colorsChanged)
    Q_PROPERTY(QColor rail READ rail CONSTANT)
    Q_PROPERTY(QColor hudRec READ hudRec CONSTANT)
    Q_PROPERTY(QColor accent READ accent NOTIFY colorsChanged)
    // Text sizes in pixels, the desktop counterparts of the design's styles.
    Q_PROPERTY(int bodySize READ bodySize CONSTANT)
    Q_PROPERTY(int calloutSize READ calloutSize CONSTANT)
    Q_PROPERTY(int captionSize READ captionSize CONSTANT)
    Q_PROPERTY(int headlineSize READ headlineSize CONSTANT)
    Q_PROPERTY(int title2Size READ title2Size CONSTANT)
    Q_PROPERTY(int title3Size READ title3Size CONSTANT)
    Q_PROPERTY(int largeTitleSize READ largeTitleSize CONSTANT)

public:
    enum Appearance { System, Light, Dark };
    Q_ENUM(Appearance)

    explicit QmlTheme(QObject *parent = nullptr);

    int appearance() const { return m_appearance; }
    void setAppearance(int appearance);
    bool isDark() const;

    QColor canvas() const;
    QColor surface() const;
    QColor ink() const;
    QColor inkSoft() const;
    QColor line() const;
    QColor onInk() const;
    QColor rec() const;
    QColor onRec() const;
    QColor warning() const;
    QColor rail() const;
    QColor hudRec() const;
    QColor accent() const;

    // The filled button's opacity for its state (disabled, pressed, hovered).
    Q_INVOKABLE qreal filledButtonOpacity(bool isEnabled, bool isPressed, bool isHovered) const;

    int bodySize() const { return 14; }
    int calloutSize() const { return 13; }
    int captionSize() const { return 11; }
    int headlineSize() const { return 14; }
    int title2Size() const { return 19; }
    int title3Size() const { return 17; }
    int largeTitleSize() const { return 24; }

signals:
    void appearanceChanged();
    void colorsChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int m_appearance = System;
};
