// The run's course over a window system that offers no screen to test:
// which lines it still writes, and that nothing is waited for forever.
#include "diagnostics/SelfTest.h"
#include "platform/NullPlatform.h"
#include "platform/PlatformServices.h"
#include "platform/WindowManager.h"
#include "support/FakeScreenSource.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class FakeClipboard : public ClipboardProbe {
public:
    Result<QList<QUrl>, QString> roundTrip(const QList<QUrl> &urls, std::chrono::milliseconds) override
    {
        offered = urls;
        return Result<QList<QUrl>, QString>::failure(QStringLiteral("não foi possível conectar ao servidor X"));
    }

    QList<QUrl> offered;
};

class FakeWindowManager : public WindowManager {
public:
    std::optional<NativeWindowId> activeWindow() const override { return std::nullopt; }
    void activate(NativeWindowId) override { }
    bool hasCompositingManager() const override { return false; }
};

class SelfTestFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Screens that cannot be grabbed: these tests never look at pixels.
        auto fakeScreens = std::make_unique<FakeScreenSource>(PlatformError {QStringLiteral("sem tela")});
        auto fakeClipboard = std::make_unique<FakeClipboard>();
        screens = fakeScreens.get();
        clipboard = fakeClipboard.get();
        platform.screens = std::move(fakeScreens);
        platform.hotKeys = std::make_unique<NullHotKeys>();
        platform.frames = std::make_unique<NullFrameSource>();
        platform.audio = std::make_unique<NullAudioSource>();
        platform.clipboard = std::move(fakeClipboard);
    }

    QStringList runAndReadReport()
    {
        QCoro::waitFor(SelfTest::run(folder, platform, windowManager));
        return QString::fromUtf8(TestSupport::readFile(folder + "/result.txt")).split('\n');
    }

    QTemporaryDir dir;
    QString folder = dir.filePath("relatorio");
    PlatformServices platform;
    FakeScreenSource *screens = nullptr;
    FakeClipboard *clipboard = nullptr;
    FakeWindowManager windowManager;
};

} // namespace

TEST_F(SelfTestFlow, WithoutScreenAccessOnlyThePermissionLineIsWritten)
{
    screens->allowed = false;
    screens->list = {{1, "DUMMY0", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), 1.0, true}};
    EXPECT_EQ(runAndReadReport(), (QStringList {"FAIL permission: Gravação de Tela não autorizada", ""}));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList {"result.txt"});
    EXPECT_TRUE(screens->grabs.empty());
}

TEST_F(SelfTestFlow, ScreensWithoutAnIdAreSkippedAndTheRunGoesStraightToTheBar)
{
    screens->list = {{std::nullopt, "DUMMY0", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), 1.0, true},
        {std::nullopt, "DUMMY1", QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024), 1.0, false}};
    EXPECT_EQ(runAndReadReport(),
        (QStringList {"OK posicao-barra", "FAIL selecao: nenhum",
            "FAIL clipboard: nenhum (não foi possível conectar ao servidor X)", "FIM", ""}));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList {"result.txt"});
    EXPECT_EQ(clipboard->offered, QList<QUrl> {QUrl::fromLocalFile(QStringLiteral("/tmp/gravação de teste.mp4"))});
}
