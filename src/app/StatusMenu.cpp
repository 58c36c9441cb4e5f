#include "StatusMenu.h"

#include <QDir>
#include <QFileInfo>

namespace StatusMenu {

namespace {

Item item(const QString &title, Action action, const QString &shortcut = {}, const QString &icon = {})
{
    Item entry;
    entry.title = title;
    entry.action = action;
    entry.shortcut = shortcut;
    entry.icon = icon;
    return entry;
}

Item toggle(const QString &title, Action action, bool checked)
{
    Item entry = item(title, action);
    entry.checkable = true;
    entry.checked = checked;
    return entry;
}

} // namespace

QList<Item> items(const Inputs &in)
{
    if (in.isRecording) {
        return {
            item(in.isPaused ? QStringLiteral("Continuar gravação") : QStringLiteral("Pausar gravação"),
                Action::togglePause, {}, in.isPaused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill")),
            item(QStringLiteral("Parar gravação"), Action::stopRecording, {}, QStringLiteral("stop.fill")),
        };
    }

    const Item separator;
    QList<Item> menu {
        item(QStringLiteral("Abrir o Velunta"), Action::showMainWindow),
        separator,
        item(QStringLiteral("Capturar tela inteira"), Action::screenshotFull, QStringLiteral("Alt+Shift+1"),
            QStringLiteral("camera.viewfinder")),
        item(QStringLiteral("Capturar área"), Action::screenshotArea, QStringLiteral("Alt+Shift+2"),
            QStringLiteral("crop")),
        separator,
        item(QStringLiteral("Gravar tela inteira"), Action::toggleRecordFull, QStringLiteral("Alt+Shift+3"),
            QStringLiteral("record.circle")),
        item(QStringLiteral("Gravar área"), Action::toggleRecordArea, QStringLiteral("Alt+Shift+4"),
            QStringLiteral("rectangle.dashed.badge.record")),
        separator,
        toggle(QStringLiteral("Gravar áudio do sistema"), Action::toggleSystemAudio, in.capturesSystemAudio),
        toggle(QStringLiteral("Gravar microfone"), Action::toggleMicrophone, in.capturesMicrophone),
        toggle(QStringLiteral("Copiar para a área de transferência"), Action::toggleCopy, in.copiesToClipboard),
        separator,
        item(QStringLiteral("Abrir pasta ") + QFileInfo(QDir::cleanPath(in.saveFolder)).fileName(), Action::openFolder),
    };
    if (in.hasUpdateConfiguration)
        menu.append(item(QStringLiteral("Procurar atualizações…"), Action::checkForUpdates));
    menu.append(separator);
    menu.append(item(QStringLiteral("Sair"), Action::quit, QStringLiteral("Ctrl+Q")));
    return menu;
}

} // namespace StatusMenu
