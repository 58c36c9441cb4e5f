#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWindow>
#include <functional>

// What the main window's menu bar does. The application items act on
// Velunta's own windows: "Ocultar o Velunta" hides them all, "Fechar Janela"
// and "Minimizar" act on the active one, "Janela" lists the open ones.
class MainMenu : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY actionsChanged)
    Q_PROPERTY(QStringList windowTitles READ windowTitles NOTIFY windowsChanged)

public:
    struct Actions {
        std::function<void()> showSettings;
        std::function<void()> showMainWindow;
        std::function<void()> checkForUpdates;
    };

    explicit MainMenu(QObject *parent = nullptr);

    void setActions(Actions actions);
    // "Procurar atualizações…" exists only when the updater has an update
    // configuration (a build without one cannot check).
    void setUpdatesConfigured(bool configured);
    bool canCheckForUpdates() const { return m_updatesConfigured && bool(m_actions.checkForUpdates); }
    QStringList windowTitles() const;

    // Velunta's document windows that are on screen, in creation order.
    static QList<QWindow *> openWindows();

    Q_INVOKABLE void about();
    Q_INVOKABLE void showSettings();
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void hideApplication();
    Q_INVOKABLE void quit();
    Q_INVOKABLE void closeActiveWindow();
    Q_INVOKABLE void minimizeActiveWindow();
    Q_INVOKABLE void showMainWindow();
    Q_INVOKABLE void refreshWindows();
    Q_INVOKABLE void activateWindow(int index);

    // "Versão 1.2 (5)" from the running bundle.
    static QString aboutText();

signals:
    void actionsChanged();
    void windowsChanged();

private:
    Actions m_actions;
    bool m_updatesConfigured = false;
    QList<QPointer<QWindow>> m_windows;
};
