#pragma once

#include "ui/OnboardingView.h"
#include "ui/QmlTheme.h"

#include <QQuickWindow>
#include <functional>
#include <memory>

class AppModel;
class QQmlEngine;

// The introduction window: 680 x 480, fixed, without a title bar (a close
// button sits on the step rail), moved by dragging its background. Closing it
// only hides it; the owner destroys it. Built centred on the primary screen and
// not yet shown.
struct OnboardingWindowOptions {
    // Off for snapshots: nothing is written to the settings store.
    bool persistsProgress = true;
    // Light or dark for snapshots; System follows the desktop. An explicit
    // appearance is set on the engine's Theme, so it applies to every window
    // of that engine.
    QmlTheme::Appearance appearance = QmlTheme::System;
    // The system's screen-capture request, made by the screen step's button.
    std::function<bool()> requestScreenCapture;
};

inline constexpr QSize onboardingWindowSize {680, 480};

// The window at STEP (a stored step value; one that names no step opens the
// welcome step). Null when the views cannot be built (the error is printed).
// The view state is a child of the window, found with
// window->findChild<OnboardingView *>().
std::unique_ptr<QQuickWindow> makeOnboardingWindow(
    QQmlEngine &engine, AppModel &model, int step, const OnboardingWindowOptions &options = {});
