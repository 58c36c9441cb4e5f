#include "app/StatusMenu.h"

#include <gtest/gtest.h>

using namespace StatusMenu;

namespace {

QStringList titles(const QList<Item> &items)
{
    QStringList out;
    for (const Item &item : items)
        out << (item.isSeparator() ? QStringLiteral("—") : item.title);
    return out;
}

const Item *find(const QList<Item> &items, Action action)
{
    for (const Item &item : items)
        if (item.action == action)
            return &item;
    return nullptr;
}

} // namespace

TEST(StatusMenu, IdleMenuHasEveryItemInOrder)
{
    Inputs in;
    in.saveFolder = "/home/ana/Imagens/Velunta";
    const auto menu = items(in);
    EXPECT_EQ(titles(menu),
        (QStringList {"Abrir o Velunta", "—", "Capturar tela inteira", "Capturar área", "—", "Gravar tela inteira",
            "Gravar área", "—", "Gravar áudio do sistema", "Gravar microfone", "Copiar para a área de transferência",
            "—", "Abrir pasta Velunta", "—", "Sair"}));
    EXPECT_EQ(find(menu, Action::screenshotFull)->shortcut, "Alt+Shift+1");
    EXPECT_EQ(find(menu, Action::screenshotArea)->shortcut, "Alt+Shift+2");
    EXPECT_EQ(find(menu, Action::toggleRecordFull)->shortcut, "Alt+Shift+3");
    EXPECT_EQ(find(menu, Action::toggleRecordArea)->shortcut, "Alt+Shift+4");
    EXPECT_EQ(find(menu, Action::quit)->shortcut, "Ctrl+Q");
    EXPECT_EQ(find(menu, Action::toggleRecordArea)->icon, "rectangle.dashed.badge.record");
    EXPECT_TRUE(find(menu, Action::showMainWindow)->shortcut.isEmpty());
}

TEST(StatusMenu, CheckStatesFollowTheSettings)
{
    Inputs in;
    in.capturesSystemAudio = false;
    in.capturesMicrophone = true;
    in.copiesToClipboard = false;
    const auto menu = items(in);
    EXPECT_FALSE(find(menu, Action::toggleSystemAudio)->checked);
    EXPECT_TRUE(find(menu, Action::toggleMicrophone)->checked);
    EXPECT_FALSE(find(menu, Action::toggleCopy)->checked);
    for (const Item &item : menu)
        EXPECT_TRUE(!item.checked || item.checkable) << item.title.toStdString();
}

TEST(StatusMenu, TheFolderItemNamesTheLastPathComponent)
{
    Inputs in;
    in.saveFolder = "/home/ana/Capturas/";
    EXPECT_EQ(find(items(in), Action::openFolder)->title, "Abrir pasta Capturas");
}

TEST(StatusMenu, UpdateItemOnlyWithAConfiguration)
{
    Inputs in;
    EXPECT_EQ(find(items(in), Action::checkForUpdates), nullptr);
    in.hasUpdateConfiguration = true;
    const auto menu = items(in);
    ASSERT_NE(find(menu, Action::checkForUpdates), nullptr);
    const QStringList t = titles(menu);
    EXPECT_EQ(t.indexOf("Procurar atualizações…"), t.indexOf("Abrir pasta ") + 1);
    EXPECT_EQ(t.at(t.indexOf("Procurar atualizações…") - 1).left(12), "Abrir pasta ");
    EXPECT_EQ(t.last(), "Sair");
}

TEST(StatusMenu, RecordingShrinksToPauseAndStop)
{
    Inputs in;
    in.isRecording = true;
    auto menu = items(in);
    EXPECT_EQ(titles(menu), (QStringList {"Pausar gravação", "Parar gravação"}));
    EXPECT_EQ(menu[0].icon, "pause.fill");
    EXPECT_EQ(menu[1].icon, "stop.fill");
    EXPECT_TRUE(menu[0].shortcut.isEmpty());

    in.isPaused = true;
    menu = items(in);
    EXPECT_EQ(titles(menu), (QStringList {"Continuar gravação", "Parar gravação"}));
    EXPECT_EQ(menu[0].icon, "play.fill");
    EXPECT_EQ(menu[0].action, Action::togglePause);
}
