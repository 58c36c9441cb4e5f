#pragma once

#include "core/ControllerPorts.h"
#include "ui/MainMenu.h"

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <functional>
#include <memory>

class AppModel;
class MainWindow;
class Preferences;
class QQmlEngine;

// The application's windows as the capture controller drives them: the main
// window, built on first use and then only hidden and shown, and the
// introduction window, one per showing.
class Windows : public QObject, public WindowHost {
    Q_OBJECT
public:
    // Builds the introduction window at STEP (0 to 3), centred and not yet
    // shown. The default builds the real one, which stores each step it
    // reaches; one returning null makes the main window stand in.
    using OnboardingFactory = std::function<std::unique_ptr<QWindow>(int step)>;

    // PREFERENCES and MODEL are owned by the caller and outlive the windows.
    Windows(Preferences &preferences, AppModel &model, QObject *parent = nullptr);
    ~Windows() override;

    QQmlEngine &engine() { return *m_engine; }
    AppModel &model() { return m_model; }
    MainMenu &mainMenu() { return m_menu; }
    MainWindow &mainWindow();
    bool hasMainWindow() const { return bool(m_mainWindow); }

    void setOnboardingFactory(OnboardingFactory factory) { m_onboardingFactory = std::move(factory); }
    // The system's screen-capture request, for the introduction's screen step.
    void setScreenCaptureRequest(std::function<bool()> request) { m_requestScreenCapture = std::move(request); }
    QWindow *onboardingWindow() const { return m_onboarding.get(); }
    // The menu bar's "Ajustes…", "Velunta" and "Procurar atualizações…"
    // (shown only when the model's updater has an update configuration).
    // Unset entries do what the controller does: the page, a rescan, the
    // window in front, and for updates a manual check.
    void setMenuActions(MainMenu::Actions actions);

    // WindowHost
    bool isMainWindowVisible() const override;
    void hideMainWindow() override;
    void showMainWindow() override;
    void showOnboarding(int step) override;
    void closeOnboarding() override;

private:
    Preferences &m_preferences;
    AppModel &m_model;
    std::unique_ptr<QQmlEngine> m_engine;
    MainMenu m_menu;
    std::unique_ptr<MainWindow> m_mainWindow;
    OnboardingFactory m_onboardingFactory;
    std::function<bool()> m_requestScreenCapture;
    std::unique_ptr<QWindow> m_onboarding;
};
