#include "UiSnapshots.h"

#include "capture/CaptureEngine.h"
#include "core/Preferences.h"
#include "feedback/RecordingControls.h"
#include "platform/MicrophoneAccess.h"
#include "platform/NullPlatform.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/OnboardingWindow.h"
#include "ui/QmlTheme.h"
#include "ui/QmlUi.h"
#include "ui/WindowRendering.h"
#include "updater/Updater.h"

#include <QColorSpace>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSaveFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>

using namespace std::chrono_literals;

namespace UiSnapshots {

namespace {

using Mic = MicrophoneAccess::Status;

constexpr std::array<std::array<double, 3>, 7> sampleColours {{
    {0.25, 0.47, 0.85},
    {0.85, 0.38, 0.35},
    {0.30, 0.68, 0.50},
    {0.60, 0.40, 0.80},
    {0.90, 0.65, 0.25},
    {0.35, 0.65, 0.75},
    {0.55, 0.57, 0.62},
}};

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

QImage sampleImage(const std::array<double, 3> &rgb)
{
    QImage image(800, 500, QImage::Format_RGBA8888);
    if (image.isNull())
        return image;
    image.setColorSpace(QColorSpace::SRgb);
    image.fill(QColor::fromRgbF(float(rgb[0]), float(rgb[1]), float(rgb[2])));
    QPainter painter(&image);
    painter.fillRect(QRect(80, 80, 640, 300), QColor::fromRgbF(1, 1, 1, 0.85f));
    return image;
}

// The windows write their state through the preferences (the updater's
// rollout bucket, for one). For the run, they get a private copy of the
// user's settings, so that the windows read what the user has but nothing
// reaches the user's file, whatever a window does.
class SettingsScratch {
public:
    explicit SettingsScratch(const Preferences &user)
    {
        if (!m_dir.isValid())
            return;
        const QString copy = m_dir.filePath(QStringLiteral("Velunta.conf"));
        if (QFile::exists(user.fileName()))
            QFile::copy(user.fileName(), copy);
        m_preferences = std::make_unique<Preferences>(copy);
    }

    bool isolated() const { return bool(m_preferences); }
    Preferences &preferences() { return *m_preferences; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_preferences;
};

// The update offered in the update snapshots.
UpdateManifest sampleManifest()
{
    UpdateManifest manifest;
    manifest.build = 5;
    manifest.version = QStringLiteral("1.3");
    manifest.minimumSystem = QStringLiteral("15.0");
    manifest.notes = QStringLiteral("Gravações pausadas mais confiáveis e novo visual.");
    return manifest;
}

QCoro::Task<Result<UpdateManifest, UpdateError>> serveSampleManifest(QUrl, UpdateConfig)
{
    co_return sampleManifest();
}

// A download that reports 40 % and then waits until the snapshot is taken; a
// download that fails as a corrupted file.
QCoro::Task<Result<PreparedUpdate, UpdateError>> sampleDownload(
    UpdateEngine::ProgressCallback onProgress, std::shared_ptr<bool> holds, std::shared_ptr<bool> released)
{
    using Outcome = Result<PreparedUpdate, UpdateError>;
    if (!*holds)
        co_return Outcome::failure(UpdateError::wrongHash);
    onProgress(0.4);
    while (!*released)
        co_await QCoro::sleepFor(20ms);
    co_return Outcome::failure(UpdateError::wrongHash);
}

// An updater brought into a state of the screens by its own operations,
// over an engine that serves the sample update from memory and never
// reaches the network, the update helper or the application's quit.
class SampleUpdate {
public:
    enum class Target { available, downloading, failed };

    explicit SampleUpdate(Preferences &preferences)
    {
        Updater::Engine engine;
        engine.fetchManifest = [](QUrl url, UpdateConfig config) { return serveSampleManifest(url, config); };
        engine.prepare = [holds = m_holds, released = m_released](
                             UpdateManifest, UpdateConfig, UpdateEngine::ProgressCallback onProgress) {
            return sampleDownload(std::move(onProgress), holds, released);
        };
        engine.launchInstaller = [](const PreparedUpdate &, int, const QStringList &) {
            return Result<Done, UpdateError>::failure(UpdateError::installerMissing);
        };
        engine.canInstallInPlace = [] { return true; };
        engine.currentBuild = [] { return qint64(0); };
        engine.systemVersion = [] { return UpdateEngine::SystemVersion {99, 0, 0}; };
        engine.openURL = [](const QUrl &) {};
        engine.terminate = [] {};
        UpdateConfig config;
        config.baseURL = QUrl(QStringLiteral("https://atualizacoes.velunta.invalid/"));
        m_updater = std::make_unique<Updater>(preferences, config, std::move(engine), Updater::Schedule());
    }

    ~SampleUpdate() { *m_released = true; }

    Updater *updater() const { return m_updater.get(); }

    // True when the updater got there.
    QCoro::Task<bool> reach(Target target)
    {
        auto checking = m_updater->check(true);
        co_await std::move(checking);
        if (m_updater->kind() != Updater::Kind::available)
            co_return false;
        if (target == Target::available)
            co_return true;
        *m_holds = target == Target::downloading;
        // Fire and forget: the download stays open until release().
        m_updater->install();
        const Updater::Kind wanted = target == Target::downloading ? Updater::Kind::downloading : Updater::Kind::failed;
        for (int i = 0; i < 100; ++i) {
            if (m_updater->kind() == wanted && (wanted != Updater::Kind::downloading || m_updater->progress() > 0))
                co_return true;
            co_await QCoro::sleepFor(20ms);
        }
        co_return false;
    }

    // Lets an open download end before the updater goes away.
    QCoro::Task<void> release()
    {
        *m_released = true;
        for (int i = 0; i < 100 && m_updater->kind() == Updater::Kind::downloading; ++i)
            co_await QCoro::sleepFor(20ms);
    }

private:
    std::shared_ptr<bool> m_holds = std::make_shared<bool>(false);
    std::shared_ptr<bool> m_released = std::make_shared<bool>(false);
    std::unique_ptr<Updater> m_updater;
};

// Points the window's update views at UPDATER instead of the model's own,
// which only the real engine can move.
void showUpdater(QQuickWindow *window, Updater *updater)
{
    const QVariant value = QVariant::fromValue(static_cast<QObject *>(updater));
    for (const char *name : {"updateBanner", "updateSection"}) {
        for (QObject *view : window->findChildren<QObject *>(QLatin1String(name)))
            view->setProperty("updater", value);
        std::function<void(QQuickItem *)> visit = [&](QQuickItem *item) {
            if (item->objectName() == QLatin1String(name))
                item->setProperty("updater", value);
            for (QQuickItem *child : item->childItems())
                visit(child);
        };
        visit(window->contentItem());
    }
}

QQuickItem *findItem(QQuickItem *item, const QString &name)
{
    if (!item || item->objectName() == name)
        return item;
    for (QQuickItem *child : item->childItems()) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// The settings page's update section sits below the first screenful: scroll
// the page (laid out by now) so that the section is in view.
void scrollToUpdateSection(QQuickWindow *window)
{
    QQuickItem *page = findItem(window->contentItem(), QStringLiteral("settingsPage"));
    QQuickItem *section = findItem(page, QStringLiteral("updateSection"));
    auto *content = page ? page->property("contentItem").value<QQuickItem *>() : nullptr;
    if (!section || !content)
        return;
    const qreal top = section->mapToItem(content, QPointF(0, 0)).y() - 24;
    const qreal bottom = std::max<qreal>(0, page->property("contentHeight").toReal() - page->height());
    page->setProperty("contentY", std::clamp<qreal>(top, 0, bottom));
}

// Transparent, 20 points in from the bottom-left corner of the screen with
// the most pixels per point.
void place(QQuickWindow *window)
{
    // Off the user's sight where a compositor honours it; the rendering reads
    // the scene, not the screen.
    window->setOpacity(0);
    QScreen *chosen = nullptr;
    for (QScreen *screen : QGuiApplication::screens()) {
        if (!chosen || screen->devicePixelRatio() > chosen->devicePixelRatio())
            chosen = screen;
    }
    if (!chosen)
        return;
    const QRect screenFrame = chosen->geometry();
    window->setScreen(chosen);
    window->setPosition(screenFrame.left() + 20, screenFrame.top() + screenFrame.height() - 20 - window->height());
}

struct OnboardingShot {
    const char *name;
    OnboardingView::Step step;
    bool screenPermission;
    int microphone;
    QmlTheme::Appearance appearance;
};

struct MainShot {
    const char *name;
    bool usesSamples;
    bool screenPermission;
    AppModel::Page page;
    bool recording;
    std::optional<SampleUpdate::Target> update;
    QmlTheme::Appearance appearance;
};

QString pngPath(const QString &folder, const QString &name)
{
    return QDir(folder).filePath(name + QStringLiteral(".png"));
}

// The bar's content at its natural size, drawn the way the recording shows it.
QImage renderRecordingBar()
{
    NullScreenSource screens;
    RecordingControls controls(screens, nullptr);
    controls.show(
        CaptureTarget {}, [] {}, [] {});
    QImage image;
    if (ControlsBackground *panel = controls.panel())
        image = panel->grab().toImage();
    controls.hide();
    return image;
}

} // namespace

int makeSamples(const QString &folder)
{
    QDir().mkpath(folder);
    int written = 0;
    for (int number = 0; number < int(sampleColours.size()); ++number) {
        const QImage image = sampleImage(sampleColours[number]);
        if (image.isNull())
            continue;
        const auto png = CaptureEngine::pngData(image, 1.0);
        if (!png)
            continue;
        const QString path = QDir(folder).filePath(QStringLiteral("Print exemplo %1.png").arg(number));
        if (writeAtomically(path, *png))
            ++written;
    }
    return written;
}

QCoro::Task<bool> save(QQuickWindow *window, QString name, QString folder)
{
    QPointer<QQuickWindow> target(window);
    if (!target)
        co_return false;
    place(target);
    auto rendering = WindowRendering::render(target);
    const QImage image = co_await std::move(rendering);
    const QString path = pngPath(folder, name);
    QFuture<bool> writing = QtConcurrent::run([image, path] { return WindowRendering::savePng(image, path); });
    const bool written = co_await writing;
    if (!written)
        std::fprintf(stderr, "Velunta: não foi possível gravar %s\n", qPrintable(QDir::toNativeSeparators(path)));
    co_return written;
}

QCoro::Task<void> run(QString folder, const Preferences &user, std::optional<QString> samples)
{
    // The same pixels on any machine, with or without a GPU or a display.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QDir().mkpath(folder);

    QString samplesFolder;
    if (samples) {
        samplesFolder = *samples;
    } else {
        samplesFolder = QDir(folder).filePath(QStringLiteral("amostras"));
        QFuture<int> making = QtConcurrent::run([samplesFolder] { return makeSamples(samplesFolder); });
        co_await making;
    }
    const QString emptyFolder = QDir(folder).filePath(QStringLiteral("vazia"));
    QDir().mkpath(emptyFolder);

    SettingsScratch scratch(user);
    if (!scratch.isolated()) {
        std::fputs("Velunta: as configurações não puderam ser isoladas.\n", stderr);
        co_return;
    }
    Preferences &preferences = scratch.preferences();

    const std::unique_ptr<QQmlEngine> engine = QmlUi::createEngine(preferences);
    QmlTheme *theme = QmlUi::theme(*engine);
    MainMenu menu;

    using Step = OnboardingView::Step;
    const OnboardingShot onboardingShots[] = {
        {"onboarding-1-boas-vindas", Step::welcome, false, Mic::notDetermined, QmlTheme::Light},
        {"onboarding-2-permissao-falta", Step::screenPermission, false, Mic::notDetermined, QmlTheme::Light},
        {"onboarding-2-permissao-ok", Step::screenPermission, true, Mic::notDetermined, QmlTheme::Light},
        {"onboarding-3-microfone", Step::microphone, true, Mic::notDetermined, QmlTheme::Light},
        {"onboarding-4-atalhos", Step::shortcuts, true, Mic::authorized, QmlTheme::Light},
        {"onboarding-2-escuro", Step::screenPermission, false, Mic::notDetermined, QmlTheme::Dark},
    };
    for (const OnboardingShot &shot : onboardingShots) {
        AppModel model(AppModel::Services {}, emptyFolder, shot.screenPermission, shot.microphone);
        OnboardingWindowOptions options;
        options.persistsProgress = false;
        options.appearance = shot.appearance;
        options.requestScreenCapture = [] { return false; };
        std::unique_ptr<QQuickWindow> window = makeOnboardingWindow(*engine, model, int(shot.step), options);
        if (!window)
            continue;
        auto saving = save(window.get(), QString::fromUtf8(shot.name), folder);
        co_await std::move(saving);
        window->hide();
    }

    using Page = AppModel::Page;
    using Target = SampleUpdate::Target;
    constexpr auto light = QmlTheme::Light;
    constexpr auto dark = QmlTheme::Dark;
    const MainShot mainShots[] = {
        {"main-capturar", true, true, Page::capture, false, std::nullopt, light},
        {"main-capturar-escuro", true, true, Page::capture, false, std::nullopt, dark},
        {"main-capturar-vazio-sem-permissao", false, false, Page::capture, false, std::nullopt, light},
        {"main-gravando", true, true, Page::capture, true, std::nullopt, light},
        {"main-biblioteca", true, true, Page::library, false, std::nullopt, light},
        {"main-biblioteca-vazia", false, true, Page::library, false, std::nullopt, light},
        {"main-ajustes", true, true, Page::settings, false, std::nullopt, light},
        {"main-ajustes-escuro", true, true, Page::settings, false, std::nullopt, dark},
        {"main-biblioteca-escuro", true, true, Page::library, false, std::nullopt, dark},
        {"main-atualizacao", true, true, Page::capture, false, Target::available, light},
        {"main-atualizacao-escuro", true, true, Page::capture, false, Target::downloading, dark},
        {"main-atualizacao-erro", true, true, Page::capture, false, Target::failed, light},
        {"main-atualizacao-ajustes", true, true, Page::settings, false, Target::available, dark},
    };
    for (const MainShot &shot : mainShots) {
        AppModel model(AppModel::Services {}, shot.usesSamples ? samplesFolder : emptyFolder, shot.screenPermission,
            int(Mic::notDetermined));
        model.setPage(shot.page);
        std::unique_ptr<SampleUpdate> update;
        if (shot.update) {
            update = std::make_unique<SampleUpdate>(preferences);
            auto reaching = update->reach(*shot.update);
            const bool reached = co_await std::move(reaching);
            if (!reached) {
                std::fprintf(stderr, "Velunta: %s: o estado da atualização não foi alcançado.\n", shot.name);
                auto releasing = update->release();
                co_await std::move(releasing);
                continue;
            }
        }
        model.setRecording(shot.recording);
        model.setBusy(shot.recording);
        auto scanning = model.reloadCaptures();
        co_await std::move(scanning);

        theme->setAppearance(shot.appearance);
        MainWindow window(*engine, preferences, model, &menu, MainWindow::Options {.persistsFrame = false});
        if (window.window()) {
            window.window()->resize(MainWindow::initialSize);
            if (update)
                showUpdater(window.window(), update->updater());
            if (update && shot.page == Page::settings) {
                place(window.window());
                window.window()->setFlag(Qt::WindowDoesNotAcceptFocus, true);
                window.window()->show();
                co_await QCoro::sleepFor(300ms);
                scrollToUpdateSection(window.window());
            }
            auto saving = save(window.window(), QString::fromUtf8(shot.name), folder);
            co_await std::move(saving);
            window.hide();
        }
        if (update) {
            auto releasing = update->release();
            co_await std::move(releasing);
        }
    }
    theme->setAppearance(QmlTheme::System);

    const QImage bar = renderRecordingBar();
    if (!bar.isNull()) {
        const QString path = pngPath(folder, QStringLiteral("barra-gravacao"));
        QFuture<bool> writing = QtConcurrent::run([bar, path] { return WindowRendering::savePng(bar, path); });
        const bool written = co_await writing;
        if (!written)
            std::fprintf(stderr, "Velunta: não foi possível gravar %s\n", qPrintable(QDir::toNativeSeparators(path)));
    }

    const QString result = QDir(folder).filePath(QStringLiteral("result.txt"));
    QFuture<bool> marking = QtConcurrent::run([result] { return writeAtomically(result, "FIM\n"); });
    const bool marked = co_await marking;
    if (!marked)
        std::fprintf(stderr, "Velunta: não foi possível gravar %s\n", qPrintable(QDir::toNativeSeparators(result)));
}

} // namespace UiSnapshots
