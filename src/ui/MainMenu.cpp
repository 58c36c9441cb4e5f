#include "MainMenu.h"

#include "core/Bundle.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

MainMenu::MainMenu(QObject *parent)
    : QObject(parent)
{
}

void MainMenu::setActions(Actions actions)
{
    m_actions = std::move(actions);
    emit actionsChanged();
}

void MainMenu::setUpdatesConfigured(bool configured)
{
    if (m_updatesConfigured == configured)
        return;
    m_updatesConfigured = configured;
    emit actionsChanged();
}

QList<QWindow *> MainMenu::openWindows()
{
    QList<QWindow *> windows;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        // Tool windows (recording bar, toast, overlay) are not documents.
        const Qt::WindowType type = window->type();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Dialog) && !window->title().isEmpty())
            windows << window;
    }
    return windows;
}

QStringList MainMenu::windowTitles() const
{
    QStringList titles;
    for (const QPointer<QWindow> &window : m_windows)
        if (window)
            titles << window->title();
    return titles;
}

void MainMenu::refreshWindows()
{
    m_windows.clear();
    for (QWindow *window : openWindows())
        m_windows << window;
    emit windowsChanged();
}

void MainMenu::activateWindow(int index)
{
    if (index < 0 || index >= m_windows.size() || !m_windows.at(index))
        return;
    QWindow *window = m_windows.at(index);
    if (window->windowStates() & Qt::WindowMinimized)
        window->showNormal();
    window->raise();
    window->requestActivate();
}

QString MainMenu::aboutText()
{
    const Bundle &bundle = Bundle::main();
    return QStringLiteral("Versão %1 (%2)").arg(bundle.version()).arg(bundle.build());
}

void MainMenu::about()
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Sobre o Velunta"),
        QStringLiteral("<b>Velunta</b><br>%1").arg(aboutText()), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->open();
}

void MainMenu::showSettings()
{
    if (m_actions.showSettings)
        m_actions.showSettings();
}

void MainMenu::checkForUpdates()
{
    if (canCheckForUpdates())
        m_actions.checkForUpdates();
}

void MainMenu::showMainWindow()
{
    if (m_actions.showMainWindow)
        m_actions.showMainWindow();
}

void MainMenu::hideApplication()
{
    for (QWindow *window : openWindows())
        window->hide();
}

void MainMenu::quit()
{
    QCoreApplication::quit();
}

void MainMenu::closeActiveWindow()
{
    if (QWindow *window = QGuiApplication::focusWindow())
        window->close();
}

void MainMenu::minimizeActiveWindow()
{
    if (QWindow *window = QGuiApplication::focusWindow())
        window->showMinimized();
}
