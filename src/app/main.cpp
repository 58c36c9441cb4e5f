#include "AppDelegate.h"
#include "core/Bundle.h"
#include "platform/PlatformServices.h"
#include "platform/ScreenSource.h"
#include "theme/Icons.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

namespace {

// Velunta speaks Wayland in a Wayland session (its windows through Qt's
// wayland platform, the screen through the desktop portal) and X11 elsewhere;
// the modes that draw nothing on a screen run without any display.
bool choosePlatform(const LaunchOptions &options)
{
    const QByteArray requested = qgetenv("QT_QPA_PLATFORM");
    if (!requested.isEmpty() && !requested.startsWith("wayland"))
        return true;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && isWaylandSession()) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && PlatformServices::displayReachable()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }
    if (!options.needsScreen()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fprintf(stderr,
        qEnvironmentVariableIsEmpty("DISPLAY")
            ? "Velunta: nenhuma tela X11 encontrada (a variável DISPLAY não está definida).\n"
            : "Velunta: não foi possível conectar à tela X11 \"%s\".\n",
        qgetenv("DISPLAY").constData());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString workingDirectory = QDir::currentPath();

    QCoreApplication::setOrganizationName(QStringLiteral("Velunta"));
    QCoreApplication::setApplicationName(QStringLiteral("Velunta"));

    // First act of every launch, before the display is even opened.
    AppDelegate::confirmUpdateIfNeeded(arguments, workingDirectory);

    const LaunchOptions options = LaunchOptions::parse(arguments, workingDirectory);
    if (options.printsAndExits()) {
        const QString text = options.mode == LaunchOptions::Mode::help
            ? LaunchOptions::helpText()
            : LaunchOptions::versionText(Bundle::main().version(), Bundle::main().build());
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return EXIT_SUCCESS;
    }
    if (!choosePlatform(options))
        return EXIT_FAILURE;

    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    application.setApplicationDisplayName(QStringLiteral("Velunta"));
    // Task bars and Alt+Tab match windows to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("app.velunta.Velunta"));
    application.setWindowIcon(Icons::application());

    AppDelegate delegate(arguments, workingDirectory);
    if (!delegate.applicationDidFinishLaunching())
        return EXIT_SUCCESS;
    return application.exec();
}
