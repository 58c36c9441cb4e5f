#include "theme/Theme.h"
#include "ui/QmlTheme.h"

#include <QVariant>
#include <gtest/gtest.h>

namespace {

// The palette as designed, written out independently of Theme.h so that a
// mistyped value on either side shows.
struct PaletteEntry {
    const char *name;
    const char *light;
    const char *dark;
};

const PaletteEntry palette[] = {
    {"canvas", "#F1F2F4", "#17191D"},
    {"surface", "#FFFFFF", "#23262C"},
    {"ink", "#1B1D21", "#F0F1F3"},
    {"inkSoft", "#565C66", "#AEB4BE"},
    {"line", "#D3D6DB", "#3A3E46"},
    {"onInk", "#FFFFFF", "#17191D"},
    {"rec", "#CF2A1E", "#FF6A5C"},
    {"onRec", "#FFFFFF", "#17191D"},
    {"warning", "#9A5B00", "#F2B44C"},
    {"rail", "#1E2024", "#1E2024"},
    {"hudRec", "#E5392C", "#E5392C"},
};

// Theme's own value of the colour called NAME for the appearance.
QColor themeColor(const QString &name, bool dark)
{
    const std::pair<const char *, Theme::DynamicColor> dynamic[] = {
        {"canvas", Theme::canvas},
        {"surface", Theme::surface},
        {"ink", Theme::ink},
        {"inkSoft", Theme::inkSoft},
        {"line", Theme::line},
        {"onInk", Theme::onInk},
        {"rec", Theme::rec},
        {"onRec", Theme::onRec},
        {"warning", Theme::warning},
    };
    for (const auto &[colorName, color] : dynamic) {
        if (name == QLatin1String(colorName))
            return color.resolve(dark);
    }
    if (name == QLatin1String("rail"))
        return Theme::rail;
    if (name == QLatin1String("hudRec"))
        return Theme::hudRec;
    return {};
}

} // namespace

TEST(Theme, EveryColourHasItsLightAndDarkValue)
{
    for (const PaletteEntry &entry : palette) {
        for (const bool dark : {false, true}) {
            const QColor expected(dark ? entry.dark : entry.light);
            const QColor actual = themeColor(QString::fromLatin1(entry.name), dark);
            EXPECT_EQ(actual.name(QColor::HexRgb).toUpper(), expected.name(QColor::HexRgb).toUpper())
                << entry.name << (dark ? " dark" : " light");
            EXPECT_EQ(actual.alpha(), 255) << entry.name;
            EXPECT_EQ(actual, actual.toRgb()) << entry.name << " is not an RGB colour";
        }
    }
}

TEST(Theme, TheViewsReceiveEveryColourUnderItsOwnName)
{
    QmlTheme theme;
    for (const auto appearance : {QmlTheme::Light, QmlTheme::Dark}) {
        theme.setAppearance(appearance);
        const bool dark = appearance == QmlTheme::Dark;
        ASSERT_EQ(theme.isDark(), dark);
        for (const PaletteEntry &entry : palette) {
            const QVariant value = theme.property(entry.name);
            ASSERT_TRUE(value.isValid()) << "no property " << entry.name;
            const QColor actual = value.value<QColor>();
            const QColor expected(dark ? entry.dark : entry.light);
            EXPECT_EQ(actual.name(QColor::HexRgb).toUpper(), expected.name(QColor::HexRgb).toUpper())
                << entry.name << (dark ? " dark" : " light");
            EXPECT_EQ(actual.alpha(), 255) << entry.name;
        }
    }
}

TEST(Theme, DarkAppearanceResolvesTheDarkValue)
{
    EXPECT_EQ(Theme::onInk.resolve(true), QColor("#17191D"));
    EXPECT_EQ(Theme::ink.resolve(true), QColor("#F0F1F3"));
    EXPECT_EQ(Theme::ink.resolve(false), QColor("#1B1D21"));
    EXPECT_EQ(Theme::rec.resolve(false).alpha(), 255);
    EXPECT_EQ(Theme::hudRec, QColor(229, 57, 44));
    EXPECT_EQ(Theme::rail, QColor("#1E2024"));
    EXPECT_TRUE(Theme::isDark(QColor("#202020")));
    EXPECT_FALSE(Theme::isDark(QColor("#EFEFEF")));
}

TEST(Theme, FilledButtonOpacityOrder)
{
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(false, true, true), 0.4);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, true, true), 0.75);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, false, true), 0.88);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, false, false), 1.0);
}

TEST(Theme, CropMarksAreFourUnclampedLShapes)
{
    const QPainterPath marks = Theme::cropMarks(QRectF(0, 0, 100, 60), 14);
    ASSERT_EQ(marks.elementCount(), 12);
    EXPECT_TRUE(marks.elementAt(0).isMoveTo());
    EXPECT_EQ(QPointF(marks.elementAt(0)), QPointF(14, 0));
    EXPECT_EQ(QPointF(marks.elementAt(1)), QPointF(0, 0));
    EXPECT_EQ(QPointF(marks.elementAt(2)), QPointF(0, 14));
    EXPECT_EQ(QPointF(marks.elementAt(9)), QPointF(86, 60));
    EXPECT_EQ(QPointF(marks.elementAt(11)), QPointF(100, 46));

    // On 20 x 20 the left and right horizontal arms overlap by 8 points.
    const QPainterPath small = Theme::cropMarks(QRectF(0, 0, 20, 20), 14);
    EXPECT_EQ(QPointF(small.elementAt(0)).x() - QPointF(small.elementAt(3)).x(), 8);
}

#include "theme/Icons.h"

TEST(Icons, EveryMenuSymbolExistsAndTakesItsColour)
{
    for (const char *name : {"camera.viewfinder", "crop", "record.circle", "rectangle.dashed.badge.record", "play.fill",
             "pause.fill", "stop.fill", "record.circle.fill", "doc"}) {
        ASSERT_TRUE(Icons::exists(name)) << name;
    }
    const QImage red = Icons::render("stop.fill", QColor(255, 0, 0), QSize(24, 24));
    EXPECT_EQ(red.pixelColor(12, 12), QColor(255, 0, 0));
    EXPECT_EQ(red.pixelColor(1, 1).alpha(), 0);
    EXPECT_FALSE(Icons::exists("no.such.symbol"));
}
