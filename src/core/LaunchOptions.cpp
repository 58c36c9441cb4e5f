#include "LaunchOptions.h"

#include <QDir>
#include <utility>

namespace {

QString absolute(const QString &path, const QString &workingDirectory)
{
    return QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(path));
}

constexpr std::pair<const char *, LaunchOptions::Action> actionFlags[] = {
    {"--screenshot", LaunchOptions::Action::screenshot},
    {"--screenshot-area", LaunchOptions::Action::screenshotArea},
    {"--record", LaunchOptions::Action::record},
    {"--record-area", LaunchOptions::Action::recordArea},
};

} // namespace

QString LaunchOptions::actionFlag(Action action)
{
    for (const auto &[flag, each] : actionFlags) {
        if (each == action)
            return QLatin1String(flag);
    }
    return {};
}

QString LaunchOptions::helpText()
{
    return QStringLiteral("Uso: velunta [OPÇÃO]\n"
                          "\n"
                          "Sem opções, abre o Velunta na bandeja do sistema; se ele já estiver aberto,\n"
                          "traz a janela dele para a frente.\n"
                          "\n"
                          "  --background          abre sem mostrar a janela\n"
                          "                        (é assim que o Velunta abre ao entrar no sistema)\n"
                          "\n"
                          "Capturas (no Velunta aberto, que é iniciado se preciso):\n"
                          "  --screenshot          print da tela sob o ponteiro (Alt+Shift+1)\n"
                          "  --screenshot-area     print de uma área arrastada (Alt+Shift+2)\n"
                          "  --record              inicia ou para a gravação da tela (Alt+Shift+3)\n"
                          "  --record-area         inicia ou para a gravação de uma área (Alt+Shift+4)\n"
                          "\n"
                          "Diagnóstico (cada um roda sozinho e termina):\n"
                          "  --self-test PASTA     testa captura e gravação, escreve PASTA/result.txt\n"
                          "  --merge-test PASTA    junta dois vídeos sintéticos, escreve PASTA/merge.txt\n"
                          "  --ui-snapshots PASTA [--ui-samples AMOSTRAS]\n"
                          "                        desenha cada estado das janelas em PASTA\n"
                          "  --update-test MANIFESTO RELATÓRIO [--install] [--auto]\n"
                          "                        procura (e instala) uma atualização\n"
                          "  --update-report RELATÓRIO\n"
                          "                        escreve a versão em execução em RELATÓRIO\n"
                          "\n"
                          "  --help                mostra este texto e termina\n"
                          "  --version             mostra a versão e termina\n");
}

QString LaunchOptions::versionText(const QString &version, int build)
{
    return QStringLiteral("Velunta %1 (build %2)\n").arg(version).arg(build);
}

std::optional<QString> LaunchOptions::argumentValue(
    const QStringList &arguments, const QString &name, const QString &workingDirectory)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return absolute(arguments.at(at + 1), workingDirectory);
}

LaunchOptions LaunchOptions::parse(const QStringList &arguments, const QString &workingDirectory)
{
    LaunchOptions options;
    const qsizetype test = arguments.indexOf(QStringLiteral("--update-test"));
    if (test >= 0 && test + 2 < arguments.size()) {
        options.mode = Mode::updateTest;
        options.manifest = arguments.at(test + 1);
        options.path = absolute(arguments.at(test + 2), workingDirectory);
        options.install = arguments.contains(QStringLiteral("--install"));
        options.isManual = !arguments.contains(QStringLiteral("--auto"));
        return options;
    }

    static const std::pair<const char *, Mode> singleValueModes[] = {
        {"--update-report", Mode::updateReport},
        {"--self-test", Mode::selfTest},
        {"--merge-test", Mode::mergeTest},
        {"--ui-snapshots", Mode::uiSnapshots},
    };
    for (const auto &[flag, mode] : singleValueModes) {
        if (auto value = argumentValue(arguments, QLatin1String(flag), workingDirectory)) {
            options.mode = mode;
            options.path = *value;
            return options;
        }
    }

    // Only now: a mode's value may be spelled like any of these.
    if (arguments.contains(QStringLiteral("--help")))
        options.mode = Mode::help;
    else if (arguments.contains(QStringLiteral("--version")))
        options.mode = Mode::version;
    else {
        // The first capture action on the command line counts.
        for (const QString &argument : arguments.mid(1)) {
            for (const auto &[flag, action] : actionFlags) {
                if (argument == QLatin1String(flag)) {
                    options.action = action;
                    return options;
                }
            }
        }
        // An action never shows the window anyway, so it wins over this.
        options.background = arguments.mid(1).contains(QStringLiteral("--background"));
    }
    return options;
}
