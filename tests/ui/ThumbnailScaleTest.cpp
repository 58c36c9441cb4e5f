// Thumbnails on a screen with two pixels to the point: the view asks the
// provider for its drawn size in pixels once, never scaled by the ratio twice
// (a picture four times too large, shrunk on every frame).
#include "core/Preferences.h"
#include "ui/QmlUi.h"

#include <QMutex>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Answers every request with a picture of the size asked for, and keeps the
// sizes asked for.
class SizeRecorder : public QQuickImageProvider {
public:
    SizeRecorder()
        : QQuickImageProvider(QQuickImageProvider::Image)
    {
    }
    QImage requestImage(const QString &, QSize *size, const QSize &requestedSize) override
    {
        {
            QMutexLocker lock(&mutex);
            requested << requestedSize;
        }
        QImage image(requestedSize.isValid() ? requestedSize : QSize(10, 10), QImage::Format_RGB32);
        image.fill(Qt::red);
        *size = image.size();
        return image;
    }
    QList<QSize> sizes()
    {
        QMutexLocker lock(&mutex);
        return requested;
    }

private:
    QMutex mutex;
    QList<QSize> requested;
};

} // namespace

TEST(ThumbnailView, AsksForItsSizeTimesThePixelRatioOnce)
{
    QTemporaryDir home;
    Preferences preferences(home.filePath("Velunta.conf"));
    const std::unique_ptr<QQmlEngine> engine = QmlUi::createEngine(preferences);
    engine->removeImageProvider(QStringLiteral("thumbnail"));
    auto *recorder = new SizeRecorder; // owned by the engine
    engine->addImageProvider(QStringLiteral("thumbnail"), recorder);

    QQuickWindow window;
    window.resize(400, 300);
    ASSERT_DOUBLE_EQ(window.devicePixelRatio(), 2.0) << "run with QT_SCALE_FACTOR=2";
    QQmlComponent component(engine.get());
    component.setData("import QtQuick\nThumbnailView { width: 170; height: 106; source: \"image://thumbnail/a\" }",
        QmlUi::view(QStringLiteral("ThumbnailScaleTest.qml")));
    std::unique_ptr<QObject> object(component.create());
    ASSERT_NE(object, nullptr) << component.errorString().toStdString();
    auto *view = qobject_cast<QQuickItem *>(object.get());
    view->setParentItem(window.contentItem());
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->property("status").toInt() == 1; }, 10000));

    ASSERT_FALSE(recorder->sizes().isEmpty());
    EXPECT_EQ(recorder->sizes().last(), QSize(340, 212));
    // What the view reports as drawn, in pixels.
    EXPECT_EQ(view->property("shownSize").toSize(), QSize(340, 212));

    // A narrower tile asks again, still at twice its size.
    view->setWidth(150);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->sizes().last() == QSize(300, 212); }, 10000))
        << recorder->sizes().last().width() << " x " << recorder->sizes().last().height();
}
