#include "FakeUpdater.h"
#include "OnboardingFixture.h"
#include "ui/QmlTheme.h"

#include <QQmlComponent>

namespace {

// The banner and the settings section side by side in one window, over one
// updater, as the capture page and the settings page place them.
struct UpdateScreens : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    FakeUpdater fake;
    std::unique_ptr<QQuickWindow> owned;

    explicit UpdateScreens(bool configured = true)
        : fake(testPreferences(), configured)
    {
        QQmlComponent component(engine.get());
        component.setData(R"(
            import QtQuick
            import Velunta
            Window {
                id: host
                property QtObject updater
                property bool isBusy
                width: 900
                height: 700
                color: Theme.canvas
                Column {
                    x: 20
                    y: 20
                    spacing: 20
                    UpdateBanner {
                        objectName: "banner"
                        width: 700
                        updater: host.updater
                        isBusy: host.isBusy
                    }
                    UpdateSettingsSection {
                        objectName: "section"
                        width: 700
                        updater: host.updater
                        isBusy: host.isBusy
                    }
                }
            })",
            QUrl("qrc:/velunta/qml/UpdateScreensTestHost.qml"));
        owned.reset(qobject_cast<QQuickWindow *>(
            component.createWithInitialProperties({{"updater", QVariant::fromValue(fake.updater.get())}})));
        window = owned.get();
        EXPECT_NE(window, nullptr) << qPrintable(component.errorString());
        if (!window)
            return;
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        settle(50);
    }

    void setBusy(bool busy)
    {
        window->setProperty("isBusy", busy);
        settle(30);
    }
    QQuickItem *banner() const { return find("banner"); }
    bool bannerShown() const { return isShown(banner()) && banner()->height() > 0; }
    QString status() const { return text("updateStatus"); }
    bool enabled(const QString &name) const { return find(name)->isEnabled(); }
};

} // namespace

TEST(UpdateScreens, IdleHasNoBannerAndSaysNoCheckWasMade)
{
    UpdateScreens screens;
    EXPECT_FALSE(screens.bannerShown());
    EXPECT_EQ(screens.banner()->height(), 0);
    EXPECT_EQ(screens.status(), "Nenhuma verificação feita agora");
    EXPECT_TRUE(screens.enabled("checkNowButton"));
    EXPECT_FALSE(screens.shown("sectionInstallButton"));
    EXPECT_TRUE(screens.shown("checksForUpdatesSwitch"));
    EXPECT_TRUE(screens.shown("usesBetaUpdatesSwitch"));
    EXPECT_FALSE(screens.shown("notConfigured"));
}

TEST(UpdateScreens, AvailableOffersTheInstallBothPlacesDisabledWhileBusy)
{
    UpdateScreens screens;
    screens.fake.toAvailable();
    settle(30);
    EXPECT_TRUE(screens.bannerShown());
    EXPECT_EQ(screens.text("updateTitle"), "Versão 1.3 disponível");
    EXPECT_EQ(screens.text("updateNotes"), "Gravações pausadas mais confiáveis e novo visual.");
    EXPECT_EQ(screens.text("bannerInstallButton"), "Atualizar e reabrir");
    EXPECT_EQ(screens.text("sectionInstallButton"), "Atualizar e reabrir");
    EXPECT_EQ(screens.status(), "Versão 1.3 disponível");

    screens.setBusy(true);
    EXPECT_FALSE(screens.enabled("bannerInstallButton"));
    EXPECT_FALSE(screens.enabled("sectionInstallButton"));
    EXPECT_TRUE(screens.enabled("checkNowButton"));
    screens.setBusy(false);

    screens.click("bannerInstallButton");
    EXPECT_TRUE(screens.fake.waitFor(Updater::Kind::downloading));
}

TEST(UpdateScreens, CopyThatCannotReplaceItselfOffersTheDownload)
{
    UpdateScreens screens;
    screens.fake.inPlace = false;
    screens.fake.toAvailable();
    settle(30);
    EXPECT_EQ(screens.text("bannerInstallButton"), "Baixar");
    EXPECT_EQ(screens.text("sectionInstallButton"), "Baixar");
    screens.click("sectionInstallButton");
    EXPECT_EQ(screens.fake.opened, QList<QUrl>({QUrl(FakeUpdater::sample().url)}));
    EXPECT_EQ(screens.fake.kind(), Updater::Kind::available);
}

TEST(UpdateScreens, EmptyNotesShowTheTitleLineOnly)
{
    UpdateScreens screens;
    screens.fake.toAvailable(FakeUpdater::sample(QString()));
    settle(30);
    EXPECT_EQ(screens.text("updateTitle"), "Versão 1.3 disponível");
    EXPECT_FALSE(screens.shown("updateNotes"));
}

TEST(UpdateScreens, DownloadingShowsTheFractionCappedAtOne)
{
    UpdateScreens screens;
    screens.fake.toDownloading(0.4);
    settle(30);
    EXPECT_EQ(screens.text("progressLabel"), "Baixando a atualização");
    EXPECT_DOUBLE_EQ(screens.find("progressBar")->property("value").toDouble(), 0.4);
    EXPECT_EQ(screens.find("progressBar")->width(), 120);
    EXPECT_FALSE(screens.shown("bannerInstallButton"));
    EXPECT_EQ(screens.status(), "Baixando a atualização…");
    EXPECT_FALSE(screens.enabled("checkNowButton"));
    EXPECT_FALSE(screens.shown("sectionInstallButton"));

    screens.fake.onProgress(1.7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return screens.fake.updater->progress() == 1.7; }, 2000));
    settle(30);
    EXPECT_DOUBLE_EQ(screens.find("progressBar")->property("value").toDouble(), 1.0);
}

TEST(UpdateScreens, VerifyingShowsItsLabelAndNoButton)
{
    UpdateScreens screens;
    screens.fake.toVerifying();
    settle(30);
    EXPECT_EQ(screens.text("verifyingLabel"), "Conferindo a atualização");
    EXPECT_FALSE(screens.shown("bannerInstallButton"));
    EXPECT_FALSE(screens.shown("bannerProgress"));
    EXPECT_EQ(screens.status(), "Conferindo a atualização…");
    EXPECT_FALSE(screens.enabled("checkNowButton"));
}

TEST(UpdateScreens, WaitingToInstallReopensAndInstallsWhenTheCaptureIsOver)
{
    UpdateScreens screens;
    screens.fake.toWaitingToInstall();
    screens.setBusy(true);
    EXPECT_EQ(screens.text("bannerInstallButton"), "Reabrir e instalar");
    EXPECT_EQ(screens.text("sectionInstallButton"), "Reabrir e instalar");
    EXPECT_EQ(screens.status(), "Pronta para instalar");
    EXPECT_FALSE(screens.enabled("checkNowButton"));
    EXPECT_FALSE(screens.enabled("bannerInstallButton"));
    screens.setBusy(false);
    screens.fake.busy = false;
    EXPECT_TRUE(screens.enabled("bannerInstallButton"));
}

TEST(UpdateScreens, FailureShowsItsMessageTwiceAndRetries)
{
    UpdateScreens screens;
    const UpdateError error(UpdateError::wrongHash);
    screens.fake.toFailed(error);
    settle(30);
    EXPECT_TRUE(screens.shown("failureCard"));
    EXPECT_FALSE(screens.shown("updateCard"));
    EXPECT_EQ(screens.text("failureTitle"), "A atualização não foi concluída");
    EXPECT_EQ(screens.text("failureMessage"), error.message());
    EXPECT_EQ(screens.status(), error.message());
    EXPECT_EQ(
        screens.find("updateStatus")->property("color").value<QColor>(), QmlUi::theme(*screens.engine)->warning());
    EXPECT_EQ(screens.text("retryButton"), "Procurar de novo");

    const int before = screens.fake.fetches;
    screens.fake.toUpToDate();
    EXPECT_GT(screens.fake.fetches, before);
    screens.fake.toFailed(error);
    settle(30);
    screens.click("retryButton");
    EXPECT_TRUE(QTest::qWaitFor([&] { return screens.fake.fetches > before + 2; }, 2000));
}

TEST(UpdateScreens, CheckingAndUpToDateHaveNoBanner)
{
    UpdateScreens screens;
    screens.fake.toChecking();
    settle(30);
    EXPECT_FALSE(screens.bannerShown());
    EXPECT_EQ(screens.status(), "Procurando…");
    EXPECT_FALSE(screens.enabled("checkNowButton"));
    screens.fake.holdFetch = false;
    screens.fake.fetchResult = Result<UpdateManifest, UpdateError>::failure(UpdateError(UpdateError::server, 404));
    EXPECT_TRUE(screens.fake.waitFor(Updater::Kind::failed));

    screens.fake.toUpToDate();
    settle(30);
    EXPECT_FALSE(screens.bannerShown());
    EXPECT_EQ(screens.status(), "Você está com a versão mais recente");
    EXPECT_EQ(
        screens.find("updateStatus")->property("color").value<QColor>(), QmlUi::theme(*screens.engine)->inkSoft());
    screens.click("checkNowButton");
    EXPECT_TRUE(screens.fake.fetches >= 2);
}

TEST(UpdateScreens, NotConfiguredShowsOnlyTheVersionAndNeverABanner)
{
    UpdateScreens screens(false);
    EXPECT_TRUE(screens.shown("notConfigured"));
    EXPECT_FALSE(screens.shown("configuredRows"));
    EXPECT_TRUE(screens.shown("installedVersion"));
    EXPECT_FALSE(screens.bannerShown());
    screens.fake.updater->check(false);
    settle(30);
    EXPECT_FALSE(screens.bannerShown());
}

TEST(UpdateScreens, SwitchesWriteTheirKeysAndStartNoCheck)
{
    UpdateScreens screens;
    testPreferences().setUsesBetaUpdates(false);
    testPreferences().setChecksForUpdates(true);
    settle(30);
    screens.click("usesBetaUpdatesSwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("usesBetaUpdates")), true);
    screens.click("checksForUpdatesSwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("checksForUpdates")), false);
    EXPECT_EQ(screens.fake.fetches, 0);
    EXPECT_EQ(screens.fake.kind(), Updater::Kind::idle);
    screens.click("checksForUpdatesSwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("checksForUpdates")), true);
    // Written elsewhere, the switch follows at once.
    testPreferences().setUsesBetaUpdates(false);
    EXPECT_FALSE(screens.find("usesBetaUpdatesSwitch")->property("checked").toBool());
}
