#include "OnboardingWindow.h"

#include "AppModel.h"
#include "QmlUi.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <cstdio>

std::unique_ptr<QQuickWindow> makeOnboardingWindow(
    QQmlEngine &engine, AppModel &model, int step, const OnboardingWindowOptions &options)
{
    if (options.appearance != QmlTheme::System)
        QmlUi::theme(engine)->setAppearance(options.appearance);

    const auto start = OnboardingView::stepFromStored(step).value_or(OnboardingView::Step::welcome);
    auto view = std::make_unique<OnboardingView>(
        model, start, OnboardingView::Options {options.persistsProgress, options.requestScreenCapture});
    QQmlEngine::setObjectOwnership(view.get(), QQmlEngine::CppOwnership);

    QQmlComponent component(&engine, QmlUi::view(QStringLiteral("OnboardingWindow.qml")));
    if (component.isError()) {
        std::fprintf(stderr, "Velunta: introduction: %s\n", qPrintable(component.errorString()));
        return nullptr;
    }
    QObject *root = component.createWithInitialProperties({{QStringLiteral("model"), QVariant::fromValue(&model)},
        {QStringLiteral("view"), QVariant::fromValue(view.get())}});
    std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow *>(root));
    if (!window) {
        std::fprintf(stderr, "Velunta: introduction: %s\n", qPrintable(component.errorString()));
        delete root;
        return nullptr;
    }
    // The view state lives exactly as long as the window that shows it.
    view.release()->setParent(window.get());

    QRect frame(QPoint(0, 0), onboardingWindowSize);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        frame.moveCenter(screen->availableGeometry().center());
    window->setGeometry(frame);
    return window;
}
