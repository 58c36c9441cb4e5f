#include "OnboardingFixture.h"

#include "ui/AppModel.h"
#include "ui/OnboardingWindow.h"
#include "ui/QmlTheme.h"

#include <QSettings>

namespace {

// Snapshots' options: nothing stored, the desktop's appearance unless asked.
OnboardingWindowOptions preview(QmlTheme::Appearance appearance = QmlTheme::System)
{
    OnboardingWindowOptions options;
    options.persistsProgress = false;
    options.appearance = appearance;
    return options;
}

OnboardingWindowOptions persisting()
{
    OnboardingWindowOptions options;
    options.persistsProgress = true;
    return options;
}

// A preview model (its permissions stay as built) and the introduction over it.
struct Introduction : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickWindow> owned;
    OnboardingView *view = nullptr;
    int finished = 0;

    Introduction(int step, bool screen, int microphone, OnboardingWindowOptions options = preview())
    {
        model = std::make_unique<AppModel>(
            AppModel::Services {.preferences = &testPreferences()}, QStringLiteral("/nonexistent"), screen, microphone);
        build(step, options);
    }
    // A model that asks the system each time: the poll's case.
    Introduction(int step, AppModel::Services services, OnboardingWindowOptions options = preview())
    {
        model = std::make_unique<AppModel>(std::move(services));
        build(step, options);
    }

    void build(int step, const OnboardingWindowOptions &options)
    {
        AppModel::Actions actions;
        actions.finishOnboarding = [this] { ++finished; };
        model->setActions(actions);
        owned = makeOnboardingWindow(*engine, *model, step, options);
        window = owned.get();
        if (window)
            view = window->findChild<OnboardingView *>();
    }

    void show()
    {
        ASSERT_NE(window, nullptr);
        window->show();
        window->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        settle();
    }

    QString title() const { return text("stepTitle"); }
    void pressReturn() const
    {
        QTest::keyClick(window, Qt::Key_Return);
        settle(50);
    }
};

} // namespace

TEST(OnboardingWindow, FixedSizeNoTitleBarAndClosingOnlyHides)
{
    Introduction intro(0, true, 0);
    ASSERT_NE(intro.window, nullptr);
    ASSERT_NE(intro.view, nullptr);
    EXPECT_EQ(intro.window->size(), QSize(680, 480));
    EXPECT_EQ(intro.window->minimumSize(), QSize(680, 480));
    EXPECT_EQ(intro.window->maximumSize(), QSize(680, 480));
    EXPECT_TRUE(intro.window->flags() & Qt::FramelessWindowHint);
    intro.show();
    EXPECT_NEAR(intro.find("stepRail")->width(), 208, 0.01);
    EXPECT_EQ(intro.find("stepRail")->height(), 480);
    // The background moves the window: it covers it under everything else.
    EXPECT_EQ(intro.find("moveArea")->size(), QSizeF(680, 480));

    intro.click("closeButton");
    EXPECT_FALSE(intro.window->isVisible());
    intro.window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(intro.window));
    EXPECT_EQ(intro.title(), "Boas-vindas ao Velunta");
}

TEST(OnboardingWindow, EachStepShowsItsTexts)
{
    Introduction intro(0, false, 0);
    intro.show();
    const QStringList welcome = intro.allTexts();
    for (const char *text :
        {"Boas-vindas ao Velunta", "Prints e gravações da sua tela, a um atalho de distância.", "Prints",
            "Da tela inteira ou só de uma área.", "Gravações", "Com som, pausa e controles logo abaixo da área.",
            "Prontos para colar", "Tudo é salvo e copiado para a área de transferência.", "Continuar"})
        EXPECT_TRUE(welcome.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(intro.shownTexts("featureTitle"), QStringList({"Prints", "Gravações", "Prontos para colar"}));

    intro.view->next();
    settle();
    EXPECT_EQ(intro.title(), "Permita ver a sua tela");
    EXPECT_EQ(intro.text("stepMessage"),
        "O sistema precisa dessa permissão para qualquer print ou gravação. Tudo fica "
        "no seu computador: o Velunta não envia nada para a internet.");
    EXPECT_EQ(intro.text("openScreenSettings"), "Abrir as configurações do sistema");
    EXPECT_EQ(intro.shownTexts("instruction"),
        QStringList({"Nas configurações, permita o Velunta.",
            "Se o sistema pedir para reabrir o app, a introdução continua daqui."}));
    EXPECT_FALSE(intro.shown("screenGranted"));

    intro.view->next();
    settle();
    EXPECT_EQ(intro.title(), "Quer gravar sua voz?");
    EXPECT_EQ(intro.text("stepMessage"),
        "É opcional. O microfone só entra nas gravações, e você pode ligar ou desligar quando quiser.");
    EXPECT_EQ(intro.text("allowMicrophone"), "Permitir o microfone");

    intro.view->next();
    settle();
    EXPECT_EQ(intro.title(), "Tudo a um atalho");
    EXPECT_EQ(intro.text("stepMessage"),
        "Eles funcionam em qualquer app. O ícone na bandeja do sistema tem as mesmas ações.");
    EXPECT_EQ(intro.shownTexts("shortcutTitle"),
        QStringList({"Print da tela inteira", "Print de uma área", "Gravar a tela inteira", "Gravar uma área"}));
    EXPECT_EQ(
        intro.shownTexts("shortcutKeys"), QStringList({"Alt+Shift+1", "Alt+Shift+2", "Alt+Shift+3", "Alt+Shift+4"}));
    // Lines between rows, none after the last.
    EXPECT_EQ(intro.shownItems("shortcutSeparator").size(), 3);
}

TEST(OnboardingWindow, ScreenStepOnX11ShowsTheBadge)
{
    Introduction intro(1, true, 0);
    intro.show();
    EXPECT_EQ(intro.text("grantedText"), "Gravação de Tela permitida");
    EXPECT_FALSE(intro.shown("screenInstructions"));
    EXPECT_EQ(intro.text("defaultButton"), "Continuar");
    EXPECT_FALSE(intro.shown("laterButton"));
}

TEST(OnboardingWindow, MicrophoneStepByStatus)
{
    struct Case {
        int status;
        const char *shown;
        const char *text;
        const char *footer;
    };
    for (const Case &c : {Case {0, "allowMicrophone", "Permitir o microfone", "laterButton"},
             Case {1, "openSoundSettings", "Abrir as configurações de som", "laterButton"},
             Case {2, "openSoundSettings", "Abrir as configurações de som", "laterButton"},
             Case {3, "grantedText", "Microfone permitido", "defaultButton"}}) {
        Introduction intro(2, true, c.status);
        intro.show();
        EXPECT_EQ(intro.text(c.shown), QString::fromUtf8(c.text)) << c.status;
        EXPECT_EQ(intro.shownItems("allowMicrophone").size() + intro.shownItems("openSoundSettings").size()
                + intro.shownItems("microphoneGranted").size(),
            1)
            << c.status;
        EXPECT_TRUE(intro.shown(c.footer)) << c.status;
    }
}

TEST(OnboardingWindow, FooterButtonsByStepAndCondition)
{
    {
        Introduction intro(0, false, 0);
        intro.show();
        EXPECT_FALSE(intro.shown("backButton"));
        EXPECT_EQ(intro.text("defaultButton"), "Continuar");
        EXPECT_FALSE(intro.shown("laterButton"));
    }
    {
        Introduction intro(1, false, 0);
        intro.show();
        EXPECT_EQ(intro.text("backButton"), "Voltar");
        EXPECT_EQ(intro.text("laterButton"), "Fazer depois");
        EXPECT_FALSE(intro.shown("defaultButton"));
        intro.click("laterButton");
        EXPECT_EQ(intro.view->step(), OnboardingView::Step::microphone);
        EXPECT_EQ(intro.text("laterButton"), "Agora não");
        intro.click("backButton");
        EXPECT_EQ(intro.view->step(), OnboardingView::Step::screenPermission);
    }
    {
        Introduction intro(3, true, 3);
        intro.show();
        EXPECT_EQ(intro.text("backButton"), "Voltar");
        EXPECT_EQ(intro.text("defaultButton"), "Começar a usar");
        intro.click("defaultButton");
        EXPECT_EQ(intro.finished, 1);
    }
}

TEST(OnboardingWindow, ReturnActivatesOnlyTheDefaultButton)
{
    Introduction intro(0, false, 0);
    intro.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(intro.window));
    intro.pressReturn();
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::screenPermission);
    // "Fazer depois" is not the default button, even with the focus.
    intro.find("laterButton")->forceActiveFocus();
    intro.pressReturn();
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::screenPermission);
    intro.find("openScreenSettings")->forceActiveFocus();
    intro.pressReturn();
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::screenPermission);
    intro.click("laterButton");
    intro.pressReturn(); // "Agora não"
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::microphone);
    intro.click("laterButton");
    EXPECT_EQ(intro.finished, 0);
    // "Começar a usar" is, even while "Voltar" has the focus.
    intro.find("backButton")->forceActiveFocus();
    intro.pressReturn();
    EXPECT_EQ(intro.finished, 1);
}

TEST(OnboardingWindow, RailMarksStepsBeforeAfterAndCurrent)
{
    Introduction intro(2, true, 0);
    intro.show();
    EXPECT_EQ(intro.shownItems("doneCheck").size(), 2);
    EXPECT_EQ(intro.shownItems("currentDot").size(), 1);
    EXPECT_EQ(intro.shownItems("pendingCircle").size(), 1);
    EXPECT_EQ(intro.shownTexts("railName"), QStringList({"Boas-vindas", "Sua tela", "Microfone", "Atalhos"}));
    QQuickItem *rail = intro.find("stepRail");
    EXPECT_EQ(rail->property("label").toString(), "Passo 3 de 4: Microfone");
    intro.view->back();
    EXPECT_EQ(rail->property("label").toString(), "Passo 2 de 4: Sua tela");
}

TEST(OnboardingWindow, StoredStepOutOfRangeOpensTheWelcomeStep)
{
    Introduction intro(9, true, 0);
    intro.show();
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::welcome);
    EXPECT_EQ(intro.title(), "Boas-vindas ao Velunta");
}

TEST(OnboardingWindow, ButtonsStoreEachStepReached)
{
    removeStored("onboardingStep");
    Introduction intro(1, true, 0, persisting());
    intro.show();
    EXPECT_FALSE(storedValue("onboardingStep").isValid());
    intro.click("defaultButton");
    EXPECT_EQ(Preferences::intFromStored(storedValue("onboardingStep")), 2);
    intro.click("backButton");
    EXPECT_EQ(Preferences::intFromStored(storedValue("onboardingStep")), 1);
    // Closing stores nothing more.
    intro.click("closeButton");
    EXPECT_EQ(Preferences::intFromStored(storedValue("onboardingStep")), 1);
    removeStored("onboardingStep");
}

TEST(OnboardingWindow, PermissionGrantedElsewhereShowsWithinASecond)
{
    bool granted = false;
    AppModel::Services services;
    services.screenPreflight = [&] { return granted; };
    Introduction intro(1, services);
    intro.show();
    EXPECT_EQ(intro.text("laterButton"), "Fazer depois");
    EXPECT_TRUE(intro.shown("screenInstructions"));
    granted = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.shown("screenGranted"); }, 1600));
    EXPECT_EQ(intro.text("defaultButton"), "Continuar");
    EXPECT_FALSE(intro.shown("laterButton"));
    // Granting does not move to another step.
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::screenPermission);
}

TEST(OnboardingWindow, ScreenButtonRequestsThenRefreshes)
{
    bool granted = false;
    int requests = 0;
    AppModel::Services services;
    services.screenPreflight = [&] { return granted; };
    OnboardingWindowOptions options = preview();
    options.requestScreenCapture = [&] {
        ++requests;
        granted = true; // the system's prompt was accepted
        return true;
    };
    Introduction intro(1, services, options);
    intro.show();
    intro.click("openScreenSettings");
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(intro.model->hasScreenPermission());
    settle();
    EXPECT_TRUE(intro.shown("screenGranted"));
}

TEST(OnboardingWindow, ExplicitAppearanceForSnapshots)
{
    Introduction light(1, false, 0, preview(QmlTheme::Light));
    EXPECT_EQ(QmlUi::theme(*light.engine)->canvas(), QColor("#F1F2F4"));
    EXPECT_EQ(light.window->color(), QColor("#F1F2F4"));
    Introduction dark(1, false, 0, preview(QmlTheme::Dark));
    EXPECT_EQ(dark.window->color(), QColor("#17191D"));
    dark.show();
    const QImage image = dark.window->grabWindow();
    ASSERT_FALSE(image.isNull());
    // The rail keeps its fixed colour; the step's side is the dark canvas.
    EXPECT_EQ(QColor(image.pixel(100 * image.width() / 680, 20 * image.height() / 480)), QColor("#1E2024"));
    EXPECT_EQ(QColor(image.pixel(660 * image.width() / 680, 20 * image.height() / 480)), QColor("#17191D"));
}

// Where the system asks before it shares the screen (a Wayland desktop's
// portal), the step speaks of that question and its button puts it.
TEST(OnboardingWindow, WhereTheSystemAsksTheStepSpeaksOfSharingTheScreen)
{
    bool granted = false;
    int requests = 0;
    AppModel::Services services;
    services.screenPreflight = [&] { return granted; };
    services.asksToShareScreen = true;
    OnboardingWindowOptions options = preview();
    options.requestScreenCapture = [&] {
        ++requests;
        return false; // the portal's answer comes later
    };
    Introduction intro(1, services, options);
    intro.show();
    EXPECT_EQ(intro.title(), "Permita ver a sua tela");
    EXPECT_EQ(intro.text("stepMessage"),
        "O sistema pede sua confirmação antes de compartilhar a tela com um app. Tudo fica no seu computador: o "
        "Velunta não envia nada para a internet.");
    EXPECT_EQ(intro.text("openScreenSettings"), "Compartilhar a tela");
    EXPECT_EQ(intro.shownTexts("instruction"),
        QStringList({"Na janela do sistema, escolha a tela e confirme.",
            "O sistema guarda a resposta: as gravações começam sem perguntar de novo."}));

    intro.click("openScreenSettings");
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(intro.shown("screenGranted"));
    // The answer, kept by the system, shows with the next poll.
    granted = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.shown("screenGranted"); }, 1600));
}

TEST(OnboardingWindow, ASessionWithoutWhatCapturesNeedSaysWhatIsMissing)
{
    AppModel::Services services;
    services.screenPreflight = [] { return false; };
    services.screenProblem = [] { return QStringLiteral("Esta sessão Wayland não oferece o portal X."); };
    services.asksToShareScreen = true;
    Introduction intro(1, services);
    intro.show();
    EXPECT_EQ(intro.text("stepMessage"), "Esta sessão Wayland não oferece o portal X.");
    EXPECT_FALSE(intro.shown("screenInstructions"));
    EXPECT_FALSE(intro.shown("screenGranted"));
    EXPECT_TRUE(intro.shown("laterButton")) << "the way forward stays";
}
