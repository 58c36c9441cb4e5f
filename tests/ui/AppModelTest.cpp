#include "ui/AppModel.h"
#include "core/Settings.h"
#include "platform/audio/MicrophoneAccess.h"
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

    AppModel makeModel(std::optional<QString> folder = std::nullopt)
    {
        return AppModel({&desktop, &microphone, [this] { return screenAllowed; }}, folder);
    }

    TestSupport::TempHome home;
    FakeDesktop desktop;
    FakeMicrophone microphone;
    bool screenAllowed = true;
};

} // namespace

TEST_F(ModelTest, FieldsNotifyOnlyOnRealChange)
{
    AppModel model({&desktop, &microphone, [this] { return screenAllowed; }});
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

    model.setSaveFolder(model.saveFolder());
    EXPECT_EQ(folder.count(), 0);
    model.setSaveFolder("/elsewhere");
    EXPECT_EQ(folder.count(), 1);

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
    Settings::setValue(Settings::Key::saveFolder, "/srv/capturas");
    microphone.current = MicrophoneAccess::authorized;
    AppModel live = makeModel();
    EXPECT_FALSE(live.isPreview());
    EXPECT_EQ(live.saveFolder(), "/srv/capturas");
    EXPECT_TRUE(live.hasScreenPermission());
    EXPECT_EQ(live.microphoneStatus(), 3);
    EXPECT_EQ(live.page(), AppModel::Page::capture);
    EXPECT_TRUE(live.captures().isEmpty()) << "nothing is scanned at construction";

    AppModel preview({&desktop, &microphone, [this] { return screenAllowed; }}, "/tmp/amostras", false, 2);
    EXPECT_TRUE(preview.isPreview());
    QSignalSpy screen(&preview, &AppModel::hasScreenPermissionChanged);
    preview.refreshPermissions();
    EXPECT_FALSE(preview.hasScreenPermission());
    EXPECT_EQ(preview.microphoneStatus(), 2);
    EXPECT_EQ(screen.count(), 0);
    Settings::store().remove("saveFolder");
}

TEST_F(ModelTest, ScanKeepsOnlyCapturesByPrefixAndExtension)
{
    QTemporaryDir dir;
    touch(dir.filePath("Print 2026-12-05 às 18.38.06.png"));
    touch(dir.filePath("Gravação 2026-12-05 às 18.40.00.MP4"));
    touch(dir.filePath("Print 2026-12-05 às 18.38.07.jpg"));
    touch(dir.filePath("notas.txt"));
    touch(dir.filePath(".Print escondido.png"));
    touch(dir.filePath("print minúsculo.png"));
    touch(dir.filePath("Gravacao sem cedilha.mp4"));
    QDir(dir.path()).mkdir("Print pasta.png");

    const auto items = AppModel::scanFolder(dir.path());
    ASSERT_EQ(items.size(), 2);
    int videos = 0;
    for (const CaptureItem &item : items) {
        videos += item.isVideo;
        EXPECT_TRUE(item.url().isLocalFile());
        EXPECT_GT(item.date.date().year(), 2000) << "a real date, never the distant past";
    }
    EXPECT_EQ(videos, 1);
    EXPECT_TRUE(AppModel::scanFolder(dir.filePath("missing")).isEmpty());
}

TEST_F(ModelTest, NewestFirstWithEqualDatesInListingOrder)
{
    const QDateTime t(QDate(2026, 12, 5), QTime(10, 0));
    QList<CaptureItem> items {
        {"/a", t, false}, {"/b", t.addSecs(60), true}, {"/c", t, false}, {"/d", t.addSecs(-60), false}};
    AppModel::sortNewestFirst(items);
    QStringList order;
    for (const auto &item : items)
        order << item.path;
    EXPECT_EQ(order, (QStringList {"/b", "/a", "/c", "/d"}));
}

TEST_F(ModelTest, ReloadAppliesTheNewestScanAndNotifiesOnlyOnChange)
{
    QTemporaryDir first, second;
    touch(first.filePath("Print um.png"));
    touch(second.filePath("Print dois.png"));
    touch(second.filePath("Print três.png"));
    AppModel model = makeModel(first.path());
    QSignalSpy changed(&model, &AppModel::capturesChanged);

    QCoro::waitFor(model.reloadCaptures());
    EXPECT_EQ(model.captures().size(), 1);
    QCoro::waitFor(model.reloadCaptures());
    EXPECT_EQ(changed.count(), 1) << "an identical rescan is silent";

    // An older scan finishing late never overwrites a newer one.
    auto older = model.reloadCaptures();
    model.setSaveFolder(second.path());
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
    EXPECT_EQ(Settings::saveFolder(), dir.path());
    ASSERT_TRUE(changed.count() > 0 || changed.wait(5000));
    EXPECT_EQ(model.captures().size(), 1);
    Settings::store().remove("saveFolder");
}

TEST_F(ModelTest, MicrophoneRequestStoresTheSettingOnlyWhenGranted)
{
    Settings::store().remove("capturesMicrophone");
    AppModel model = makeModel();
    microphone.answer = false;
    QCoro::waitFor(model.requestMicrophone());
    EXPECT_FALSE(Settings::capturesMicrophone());
    EXPECT_EQ(model.microphoneStatus(), MicrophoneAccess::denied);

    microphone.answer = true;
    QCoro::waitFor(model.requestMicrophone());
    EXPECT_TRUE(Settings::capturesMicrophone());
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
