#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class AppModel;

// What the introduction shows: the step, the footer the step calls for given
// the permissions, and the rail's texts. Every change of step is written to
// the model's preferences at once while `persistsProgress` is on, so that a quit in
// the middle (the system may ask to reopen the app after a permission) resumes
// there. The step it opens at is not written until it changes.
class OnboardingView : public QObject {
    Q_OBJECT
    Q_PROPERTY(int step READ stepIndex WRITE setStepIndex NOTIFY stepChanged)
    Q_PROPERTY(bool persistsProgress READ persistsProgress CONSTANT)
    Q_PROPERTY(QStringList railNames READ railNames CONSTANT)
    Q_PROPERTY(QString railLabel READ railLabel NOTIFY stepChanged)
    Q_PROPERTY(bool showsBack READ showsBack NOTIFY footerChanged)
    Q_PROPERTY(QString primaryTitle READ primaryTitle NOTIFY footerChanged)
    Q_PROPERTY(bool primaryIsDefault READ primaryIsDefault NOTIFY footerChanged)

public:
    // The stored form of each step is its value.
    enum class Step { welcome = 0, screenPermission = 1, microphone = 2, shortcuts = 3 };
    Q_ENUM(Step)
    static constexpr int stepCount = 4;

    // The microphone statuses of AppModel.
    enum MicrophoneStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    struct Footer {
        enum class Action { nextStep, finish };
        bool showsBack = false;
        QString primaryTitle;
        // Filled and taken by the Return key; otherwise a plain button.
        bool primaryIsDefault = false;
        Action action = Action::nextStep;
        bool operator==(const Footer &) const = default;
    };

    struct Options {
        bool persistsProgress = true;
        // Asks the system for screen capture (may show its prompt); unset: nothing to ask.
        std::function<bool()> requestScreenCapture;
    };

    // The step a stored value names, or none.
    static std::optional<Step> stepFromStored(qint64 value);
    static QString railName(Step step);
    // "Passo 2 de 4: Sua tela".
    static QString railLabel(Step step);
    static Footer footer(Step step, bool hasScreenPermission, int microphoneStatus);

    // MODEL outlives the view.
    OnboardingView(AppModel &model, Step step, Options options, QObject *parent = nullptr);

    AppModel &model() const { return *m_model; }
    Step step() const { return m_step; }
    void setStep(Step step);
    int stepIndex() const { return int(m_step); }
    void setStepIndex(int index);
    bool persistsProgress() const { return m_options.persistsProgress; }
    QStringList railNames() const;
    QString railLabel() const { return railLabel(m_step); }
    Footer footer() const;
    bool showsBack() const { return footer().showsBack; }
    QString primaryTitle() const { return footer().primaryTitle; }
    bool primaryIsDefault() const { return footer().primaryIsDefault; }

    // The following step; nothing on the last one.
    Q_INVOKABLE void next();
    // The previous step; nothing on the first one.
    Q_INVOKABLE void back();
    // The footer's main button: the next step, or the end of the introduction.
    Q_INVOKABLE void activatePrimary();
    // The screen step's button: the system's request, a fresh look at the
    // permissions, then the system's privacy settings.
    Q_INVOKABLE void openScreenSettings();

signals:
    void stepChanged();
    void footerChanged();

private:
    QPointer<AppModel> m_model;
    Step m_step;
    Options m_options;
    Footer m_lastFooter;
    void updateFooter();
};
