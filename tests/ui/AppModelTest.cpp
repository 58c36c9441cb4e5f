#include "ui/AppModel.h"
#include "core/Preferences.h"
#include "platform/MicrophoneAccess.h"
#include "platform/desktop/DesktopServices.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class FakeDesktop : public DesktopServices {
public:
    void openUrl(const QUrl &url) override { opened << url; }
    void reveal(const QString &path) override { revealed << path; }
    bool moveToTrash(const QString &path) override
    {
        trashedOnGuiThread = QThread::currentThread() == qApp->thread();
        trashed << path;
        return QFile::remove(path);
    }
    std::optional<QString> chooseFolder(const QString &start) override
    {
        chooserStart = start;
        return choice;
    }
    void openPrivacyPane(const QString &anchor) override { panes << anchor; }
    void copyImage(const QByteArray &png) override { copiedImages << png; }
    void copyFile(const QString &path) override { copiedFiles << path; }

    QList<QByteArray> copiedImages;
    QStringList copiedFiles;
    QList<QUrl> opened;
    QStringList revealed, trashed, panes;
    bool trashedOnGuiThread = true;
    QString chooserStart;
    std::optional<QString> choice;
};

class FakeMicrophone : public MicrophoneAccess {
public:
    int status() const override { return current; }
    QCoro::Task<bool> requestAccess() override
    {
        current = answer ? authorized : denied;
        co_return answer;
    }
    int current = notDetermined;
    bool answer = false;
};

void touch(const QString &path)
{
    TestSupport::writeFile(path, "x");
}

struct ModelTest : ::testing::Test {
    void SetUp() override { home.applyToThisProcess(); }

    AppModel::Services services()
    {
        return {&desktop, &microphone, [this] { return screenAllowed; }, {}, {}, &preferences};
    }

    AppModel makeModel(std::optional<QString> folder = std::nullopt) { return AppModel(services(), folder); }

    TestSupport::TempHome home;
    QTemporaryDir settingsDir;
    Preferences preferences {settingsDir.filePath("Velunta.conf")};
    FakeDesktop desktop;
    FakeMicrophone microphone;
    bool screenAllowed = true;
};

} // namespace

TEST_F(ModelTest, FieldsNotifyOnlyOnRealChange)
{
    AppModel model(services());
    QSignalSpy page(&model, &AppModel::pageChanged);
    QSignalSpy busy(&model, &AppModel::isBusyChanged);
    QSignalSpy recording(&model, &AppModel::isRecordingChanged);
    QSignalSpy folder(&model, &AppModel::saveFolderChanged);
    QSignalSpy screen(&model, &AppModel::hasScreenPermissionChanged);
    QSignalSpy mic(&model, &AppModel::microphoneStatusChanged);

    model.setPage(AppModel::Page::capture);
    EXPECT_EQ(page.count(), 0);
    model.setPage(AppModel::Page::library);
    model.setPage(AppModel::Page::library);
    EXPECT_EQ(page.count(), 1);

    model.setBusy(false);
    model.setBusy(true);
    model.setBusy(true);
    EXPECT_EQ(busy.count(), 1);
    model.setRecording(true);
    model.setRecording(false);
    EXPECT_EQ(recording.count(), 2);

    // The folder is the preferences' own: the model follows it, whoever writes it.
    preferences.setSaveFolder(model.saveFolder());
    EXPECT_EQ(folder.count(), 0);
    preferences.setSaveFolder("/elsewhere");
    EXPECT_EQ(folder.count(), 1);
    EXPECT_EQ(model.saveFolder(), "/elsewhere");

    model.refreshPermissions();
    EXPECT_EQ(screen.count(), 0);
    EXPECT_EQ(mic.count(), 0);
    screenAllowed = false;
    microphone.current = MicrophoneAccess::restricted;
    model.refreshPermissions();
    model.refreshPermissions();
    EXPECT_EQ(screen.count(), 1);
    EXPECT_EQ(mic.count(), 1);
    EXPECT_FALSE(model.hasScreenPermission());
    EXPECT_EQ(model.microphoneStatus(), 1);
}

TEST_F(ModelTest, ActionsAndUnavailableShortcutsNotifyOnEveryAssignment)
{
    AppModel model = makeModel();
    QSignalSpy actions(&model, &AppModel::actionsChanged);
    QSignalSpy shortcuts(&model, &AppModel::unavailableShortcutsChanged);
    model.setActions({});
    model.setActions({});
    model.setUnavailableShortcuts({});
    model.setUnavailableShortcuts({Shortcut::all()[1]});
    model.setUnavailableShortcuts({Shortcut::all()[1]});
    EXPECT_EQ(actions.count(), 2);
    EXPECT_EQ(shortcuts.count(), 3);
    EXPECT_EQ(model.unavailableShortcutKeys(), QStringList {"Alt+Shift+2"});
}

TEST_F(ModelTest, StartsFromSettingsAndThePlatformUnlessGivenValues)
{
    preferences.setSaveFolder("/srv/capturas");
    microphone.current = MicrophoneAccess::authorized;
    AppModel live = makeModel();
    EXPECT_FALSE(live.isPreview());
    EXPECT_EQ(live.saveFolder(), "/srv/capturas");
    EXPECT_TRUE(live.hasScreenPermission());
    EXPECT_EQ(live.microphoneStatus(), 3);
    EXPECT_EQ(live.page(), AppModel::Page::capture);
    EXPECT_TRUE(live.captures().isEmpty()) << "nothing is scanned at construction";

    AppModel preview(services(), "/tmp/amostras", false, 2);
    EXPECT_TRUE(preview.isPreview());
    EXPECT_EQ(preview.saveFolder(), "/tmp/amostras");
    QSignalSpy screen(&preview, &AppModel::hasScreenPermissionChanged);
    preview.refreshPermissions();
    EXPECT_FALSE(preview.hasScreenPermission());
    EXPECT_EQ(preview.microphoneStatus(), 2);
    EXPECT_EQ(screen.count(), 0);
    QSignalSpy previewFolder(&preview, &AppModel::saveFolderChanged);
    preferences.setSaveFolder("/srv/outra");
    EXPECT_EQ(preview.saveFolder(), "/tmp/amostras") << "a preview keeps the folder it was given";
    EXPECT_EQ(previewFolder.count(), 0);
    EXPECT_EQ(live.saveFolder(), "/srv/outra");
}

TEST_F(ModelTest, ReloadAppliesTheNewestScanAndNotifiesOnlyOnChange)
{
    QTemporaryDir first, second;
    touch(first.filePath("Print um.png"));
    touch(second.filePath("Print dois.png"));
    touch(second.filePath("Print três.png"));
    preferences.setSaveFolder(first.path());
    AppModel model = makeModel();
    QSignalSpy changed(&model, &AppModel::capturesChanged);

    QCoro::waitFor(model.reloadCaptures());
    EXPECT_EQ(model.captures().size(), 1);
    QCoro::waitFor(model.reloadCaptures());
    EXPECT_EQ(changed.count(), 1) << "an identical rescan is silent";

    // An older scan finishing late never overwrites a newer one.
    auto older = model.reloadCaptures();
    preferences.setSaveFolder(second.path());
    auto newer = model.reloadCaptures();
    QCoro::waitFor(std::move(newer));
    QCoro::waitFor(std::move(older));
    EXPECT_EQ(model.captures().size(), 2);
}

TEST_F(ModelTest, TrashMovesAndRescansEvenWhenItFails)
{
    QTemporaryDir dir;
    touch(dir.filePath("Print um.png"));
    AppModel model = makeModel(dir.path());
    QCoro::waitFor(model.reloadCaptures());
    ASSERT_EQ(model.captures().size(), 1);
    QSignalSpy changed(&model, &AppModel::capturesChanged);
    model.moveToTrash(model.captures().first().path);
    ASSERT_TRUE(changed.count() > 0 || changed.wait(5000));
    EXPECT_TRUE(model.captures().isEmpty());
    EXPECT_EQ(desktop.trashed.size(), 1);
    EXPECT_FALSE(desktop.trashedOnGuiThread);
}

TEST_F(ModelTest, OpenSaveFolderCreatesItFirst)
{
    QTemporaryDir dir;
    AppModel model = makeModel(dir.filePath("nova/pasta"));
    model.openSaveFolder();
    EXPECT_TRUE(QFileInfo(dir.filePath("nova/pasta")).isDir());
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.opened.first().toLocalFile(), dir.filePath("nova/pasta"));
}

TEST_F(ModelTest, ChoosingAFolderStoresItAndRescans)
{
    QTemporaryDir dir;
    touch(dir.filePath("Print um.png"));
    AppModel model = makeModel();
    const QString before = model.saveFolder();

    desktop.choice = std::nullopt;
    model.chooseSaveFolder();
    EXPECT_EQ(desktop.chooserStart, before);
    EXPECT_EQ(model.saveFolder(), before);

    desktop.choice = dir.path();
    QSignalSpy changed(&model, &AppModel::capturesChanged);
    model.chooseSaveFolder();
    EXPECT_EQ(model.saveFolder(), dir.path());
    EXPECT_EQ(preferences.saveFolder(), dir.path());
    ASSERT_TRUE(changed.count() > 0 || changed.wait(5000));
    EXPECT_EQ(model.captures().size(), 1);
}

TEST_F(ModelTest, MicrophoneRequestStoresTheSettingOnlyWhenGranted)
{
    AppModel model = makeModel();
    microphone.answer = false;
    QCoro::waitFor(model.requestMicrophone());
    EXPECT_FALSE(preferences.capturesMicrophone());
    EXPECT_EQ(model.microphoneStatus(), MicrophoneAccess::denied);

    microphone.answer = true;
    QCoro::waitFor(model.requestMicrophone());
    EXPECT_TRUE(preferences.capturesMicrophone());
    EXPECT_EQ(model.microphoneStatus(), MicrophoneAccess::authorized);
}

TEST_F(ModelTest, PrivacyPanesGoToTheDesktop)
{
    AppModel model = makeModel();
    model.openPrivacyPane("Privacy_Microphone");
    EXPECT_EQ(desktop.panes, QStringList {"Privacy_Microphone"});
}

TEST_F(ModelTest, TileMenuOpensRevealsAndCopiesTheRightThing)
{
    QTemporaryDir dir;
    const QString png = dir.filePath("Print 1.png");
    const QString mp4 = dir.filePath("Gravação 1.mp4");
    TestSupport::writeFile(png, "\x89PNG bytes");
    TestSupport::writeFile(mp4, "video");
    AppModel model = makeModel(dir.path());

    model.openCapture(png);
    model.revealCapture(mp4);
    EXPECT_EQ(desktop.opened, QList<QUrl>({QUrl::fromLocalFile(png)}));
    EXPECT_EQ(desktop.revealed, QStringList({mp4}));

    // A screenshot goes on the clipboard as its PNG bytes, a recording as a file.
    EXPECT_TRUE(QCoro::waitFor(model.copyCapture(png, false)));
    EXPECT_EQ(desktop.copiedImages, QList<QByteArray>({"\x89PNG bytes"}));
    EXPECT_TRUE(QCoro::waitFor(model.copyCapture(mp4, true)));
    EXPECT_EQ(desktop.copiedFiles, QStringList({mp4}));

    // A screenshot that cannot be read leaves the clipboard alone.
    EXPECT_FALSE(QCoro::waitFor(model.copyCapture(dir.filePath("Print gone.png"), false)));
    EXPECT_EQ(desktop.copiedImages.size(), 1);
    EXPECT_EQ(desktop.copiedFiles.size(), 1);
}
