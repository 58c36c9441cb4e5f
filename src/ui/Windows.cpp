#include "Windows.h"

#include "AppModel.h"
#include "MainWindow.h"
#include "OnboardingWindow.h"
#include "QmlUi.h"

#include <QQmlEngine>

Windows::Windows(Preferences &preferences, AppModel &model, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_model(model)
    , m_engine(QmlUi::createEngine(preferences))
{
    m_menu.setUpdatesConfigured(model.updater() && model.updater()->isConfigured());
    setMenuActions({});
    m_onboardingFactory = [this](int step) -> std::unique_ptr<QWindow> {
        OnboardingWindowOptions options;
        options.requestScreenCapture = m_requestScreenCapture;
        return makeOnboardingWindow(*m_engine, m_model, step, options);
    };
}

Windows::~Windows()
{
    // Windows first: their views still refer to the engine.
    m_onboarding.reset();
    m_mainWindow.reset();
}

void Windows::setMenuActions(MainMenu::Actions actions)
{
    QPointer<Windows> self(this);
    if (!actions.showMainWindow)
        actions.showMainWindow = [self] {
            if (!self)
                return;
            self->m_model.reloadCaptures();
            self->showMainWindow();
        };
    if (!actions.showSettings)
        actions.showSettings = [self] {
            if (!self)
                return;
            self->m_model.setPage(AppModel::Page::settings);
            self->m_model.reloadCaptures();
            self->showMainWindow();
        };
    if (!actions.checkForUpdates)
        actions.checkForUpdates = [self] {
            if (!self)
                return;
            self->m_model.setPage(AppModel::Page::settings);
            self->m_model.reloadCaptures();
            self->showMainWindow();
            if (Updater *updater = self->m_model.updater())
                updater->checkNow();
        };
    m_menu.setActions(std::move(actions));
}

MainWindow &Windows::mainWindow()
{
    if (!m_mainWindow)
        m_mainWindow = std::make_unique<MainWindow>(*m_engine, m_preferences, m_model, &m_menu);
    return *m_mainWindow;
}

bool Windows::isMainWindowVisible() const
{
    return m_mainWindow && m_mainWindow->isVisible();
}

void Windows::hideMainWindow()
{
    if (m_mainWindow)
        m_mainWindow->hide();
}

void Windows::showMainWindow()
{
    mainWindow().show();
}

void Windows::showOnboarding(int step)
{
    if (!m_onboardingFactory) {
        showMainWindow();
        return;
    }
    if (m_onboarding)
        m_onboarding->hide();
    m_onboarding = m_onboardingFactory(step);
    if (!m_onboarding) {
        // The views could not be built: the user still gets a window.
        showMainWindow();
        return;
    }
    m_onboarding->show();
    m_onboarding->raise();
    m_onboarding->requestActivate();
}

void Windows::closeOnboarding()
{
    if (!m_onboarding)
        return;
    m_onboarding->hide();
    // The window may be in the middle of delivering the click that closed it.
    m_onboarding.release()->deleteLater();
}
