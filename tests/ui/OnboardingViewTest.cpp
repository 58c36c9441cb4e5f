#include "ui/OnboardingView.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/AppModel.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Step = OnboardingView::Step;
using Footer = OnboardingView::Footer;

// A preview model over a settings file of its own.
struct Rig {
    QTemporaryDir dir;
    Preferences preferences {dir.filePath("Velunta.conf")};
    AppModel model;
    explicit Rig(bool screen = true, int microphone = 0)
        : model(AppModel::Services {.preferences = &preferences}, QStringLiteral("/nonexistent"), screen, microphone)
    {
    }

    std::optional<qint64> storedStep() const
    {
        return Preferences::intFromStored(
            QSettings(preferences.fileName(), QSettings::IniFormat).value("onboardingStep"));
    }
};

} // namespace

TEST(OnboardingSteps, StoredValuesNameStepsZeroToThreeAndNothingElse)
{
    EXPECT_EQ(OnboardingView::stepFromStored(0), Step::welcome);
    EXPECT_EQ(OnboardingView::stepFromStored(1), Step::screenPermission);
    EXPECT_EQ(OnboardingView::stepFromStored(2), Step::microphone);
    EXPECT_EQ(OnboardingView::stepFromStored(3), Step::shortcuts);
    EXPECT_EQ(OnboardingView::stepFromStored(4), std::nullopt);
    EXPECT_EQ(OnboardingView::stepFromStored(9), std::nullopt);
    EXPECT_EQ(OnboardingView::stepFromStored(-1), std::nullopt);
}

TEST(OnboardingSteps, RailNamesAndTheSpokenLabel)
{
    Rig rig;
    OnboardingView view(rig.model, Step::welcome, {});
    EXPECT_EQ(view.railNames(), QStringList({"Boas-vindas", "Sua tela", "Microfone", "Atalhos"}));
    EXPECT_EQ(OnboardingView::railLabel(Step::welcome), "Passo 1 de 4: Boas-vindas");
    EXPECT_EQ(OnboardingView::railLabel(Step::screenPermission), "Passo 2 de 4: Sua tela");
    EXPECT_EQ(OnboardingView::railLabel(Step::shortcuts), "Passo 4 de 4: Atalhos");
}

TEST(OnboardingSteps, NextAndBackStopAtTheEnds)
{
    Rig rig;
    OnboardingView view(rig.model, Step::welcome, {false, {}});
    view.back();
    EXPECT_EQ(view.step(), Step::welcome);
    view.next();
    view.next();
    view.next();
    EXPECT_EQ(view.step(), Step::shortcuts);
    view.next();
    EXPECT_EQ(view.step(), Step::shortcuts);
    view.back();
    EXPECT_EQ(view.step(), Step::microphone);
}

TEST(OnboardingFooter, ButtonsByStepAndCondition)
{
    constexpr auto next = Footer::Action::nextStep;
    constexpr auto finish = Footer::Action::finish;
    // welcome: no way back, "Continuar" takes Return.
    EXPECT_EQ(OnboardingView::footer(Step::welcome, false, 0), (Footer {false, "Continuar", true, next}));
    EXPECT_EQ(OnboardingView::footer(Step::screenPermission, false, 0), (Footer {true, "Fazer depois", false, next}));
    EXPECT_EQ(OnboardingView::footer(Step::screenPermission, true, 0), (Footer {true, "Continuar", true, next}));
    for (int status : {0, 1, 2})
        EXPECT_EQ(OnboardingView::footer(Step::microphone, true, status), (Footer {true, "Agora não", false, next}))
            << status;
    EXPECT_EQ(OnboardingView::footer(Step::microphone, false, 3), (Footer {true, "Continuar", true, next}));
    EXPECT_EQ(OnboardingView::footer(Step::shortcuts, false, 2), (Footer {true, "Começar a usar", true, finish}));
}

TEST(OnboardingFooter, FollowsThePermissionsAndNotifiesOnlyOnChange)
{
    Rig rig(false, 0);
    OnboardingView view(rig.model, Step::screenPermission, {false, {}});
    QSignalSpy footerChanged(&view, &OnboardingView::footerChanged);
    EXPECT_EQ(view.primaryTitle(), "Fazer depois");
    // The microphone does not matter on the screen step.
    view.setStepIndex(1);
    EXPECT_EQ(footerChanged.count(), 0);
    view.next();
    EXPECT_EQ(view.primaryTitle(), "Agora não");
    EXPECT_EQ(footerChanged.count(), 1);
    view.next();
    EXPECT_EQ(view.primaryTitle(), "Começar a usar");
    EXPECT_TRUE(view.primaryIsDefault());
}

TEST(OnboardingProgress, EveryChangeIsStoredButNotTheStepItOpensAt)
{
    Rig rig;
    OnboardingView view(rig.model, Step::microphone, {true, {}});
    EXPECT_EQ(rig.storedStep(), std::nullopt);
    view.setStep(Step::microphone);
    EXPECT_EQ(rig.storedStep(), std::nullopt);
    view.back();
    EXPECT_EQ(rig.storedStep(), 1);
    view.next();
    view.next();
    EXPECT_EQ(rig.storedStep(), 3);
    // Already in the file, as a new run would read it.
    QFile file(rig.preferences.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().split('\n').contains("onboardingStep=3"));
    EXPECT_EQ(rig.preferences.onboardingStep(), 3);
}

TEST(OnboardingProgress, NothingStoredWhenProgressIsNotPersisted)
{
    Rig rig;
    OnboardingView view(rig.model, Step::welcome, {false, {}});
    view.next();
    view.next();
    view.setStepIndex(7); // names no step: ignored
    EXPECT_EQ(view.step(), Step::microphone);
    EXPECT_EQ(rig.storedStep(), std::nullopt);
}

TEST(OnboardingActions, LastStepFinishesThroughTheModelAndOthersMoveOn)
{
    Rig rig;
    int finished = 0;
    AppModel::Actions actions;
    actions.finishOnboarding = [&] { ++finished; };
    rig.model.setActions(actions);
    OnboardingView view(rig.model, Step::microphone, {false, {}});
    view.activatePrimary();
    EXPECT_EQ(view.step(), Step::shortcuts);
    EXPECT_EQ(finished, 0);
    view.activatePrimary();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(view.step(), Step::shortcuts);
}

TEST(OnboardingActions, ScreenButtonAsksTheSystemFirst)
{
    Rig rig(false);
    int requests = 0;
    OnboardingView view(rig.model, Step::screenPermission, {false, [&] {
                                                                ++requests;
                                                                return false;
                                                            }});
    view.openScreenSettings();
    EXPECT_EQ(requests, 1);
    // A preview model keeps its permission as built.
    EXPECT_FALSE(rig.model.hasScreenPermission());
}
