#include "OnboardingView.h"

#include "AppModel.h"
#include "core/Preferences.h"

std::optional<OnboardingView::Step> OnboardingView::stepFromStored(qint64 value)
{
    if (value < 0 || value >= stepCount)
        return std::nullopt;
    return Step(value);
}

QString OnboardingView::railName(Step step)
{
    switch (step) {
    case Step::welcome:
        return QStringLiteral("Boas-vindas");
    case Step::screenPermission:
        return QStringLiteral("Sua tela");
    case Step::microphone:
        return QStringLiteral("Microfone");
    case Step::shortcuts:
        return QStringLiteral("Atalhos");
    }
    return {};
}

QString OnboardingView::railLabel(Step step)
{
    return QStringLiteral("Passo %1 de %2: %3").arg(int(step) + 1).arg(stepCount).arg(railName(step));
}

OnboardingView::Footer OnboardingView::footer(Step step, bool hasScreenPermission, int microphoneStatus)
{
    const bool showsBack = step != Step::welcome;
    const auto proceed = [&](bool ready, const char *notYet) {
        return ready ? Footer {showsBack, QStringLiteral("Continuar"), true, Footer::Action::nextStep}
                     : Footer {showsBack, QString::fromUtf8(notYet), false, Footer::Action::nextStep};
    };
    switch (step) {
    case Step::welcome:
        return proceed(true, "");
    case Step::screenPermission:
        return proceed(hasScreenPermission, "Fazer depois");
    case Step::microphone:
        return proceed(microphoneStatus == authorized, "Agora não");
    case Step::shortcuts:
        return {showsBack, QStringLiteral("Começar a usar"), true, Footer::Action::finish};
    }
    return {};
}

OnboardingView::OnboardingView(AppModel &model, Step step, Options options, QObject *parent)
    : QObject(parent)
    , m_model(&model)
    , m_step(step)
    , m_options(std::move(options))
{
    m_lastFooter = footer();
    connect(&model, &AppModel::hasScreenPermissionChanged, this, &OnboardingView::updateFooter);
    connect(&model, &AppModel::microphoneStatusChanged, this, &OnboardingView::updateFooter);
}

void OnboardingView::setStep(Step step)
{
    if (step == m_step)
        return;
    m_step = step;
    if (m_options.persistsProgress && m_model && m_model->preferences())
        m_model->preferences()->setOnboardingStep(int(step));
    emit stepChanged();
    updateFooter();
}

void OnboardingView::setStepIndex(int index)
{
    if (const auto step = stepFromStored(index))
        setStep(*step);
}

QStringList OnboardingView::railNames() const
{
    QStringList names;
    for (int i = 0; i < stepCount; ++i)
        names << railName(Step(i));
    return names;
}

OnboardingView::Footer OnboardingView::footer() const
{
    if (!m_model)
        return footer(m_step, false, notDetermined);
    return footer(m_step, m_model->hasScreenPermission(), m_model->microphoneStatus());
}

void OnboardingView::updateFooter()
{
    const Footer now = footer();
    if (now == m_lastFooter)
        return;
    m_lastFooter = now;
    emit footerChanged();
}

void OnboardingView::next()
{
    if (int(m_step) + 1 < stepCount)
        setStep(Step(int(m_step) + 1));
}

void OnboardingView::back()
{
    if (m_step != Step::welcome)
        setStep(Step(int(m_step) - 1));
}

void OnboardingView::activatePrimary()
{
    if (footer().action == Footer::Action::nextStep) {
        next();
        return;
    }
    // The controller ends the introduction and may destroy this window:
    // nothing of this object is touched afterwards.
    if (m_model)
        m_model->finishOnboarding();
}

void OnboardingView::openScreenSettings()
{
    if (m_options.requestScreenCapture)
        m_options.requestScreenCapture();
    if (!m_model)
        return;
    m_model->refreshPermissions();
    m_model->openPrivacyPane(QStringLiteral("Privacy_ScreenCapture"));
}
