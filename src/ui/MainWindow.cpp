#include "MainWindow.h"

#include "AppModel.h"
#include "MainMenu.h"
#include "QmlUi.h"
#include "core/Preferences.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>
#include <cstdio>

MainWindow::MainWindow(
    QQmlEngine &engine, Preferences &preferences, AppModel &model, MainMenu *menu, Options options, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_options(options)
{
    QQmlComponent component(&engine, QmlUi::view(QStringLiteral("MainWindow.qml")));
    if (component.isError()) {
        std::fprintf(stderr, "Velunta: main window: %s\n", qPrintable(component.errorString()));
        return;
    }
    QObject *root = component.createWithInitialProperties({{QStringLiteral("model"), QVariant::fromValue(&model)},
        {QStringLiteral("mainMenu"), QVariant::fromValue(menu)}});
    m_window = qobject_cast<QQuickWindow *>(root);
    if (!m_window) {
        std::fprintf(stderr, "Velunta: main window: %s\n", qPrintable(component.errorString()));
        delete root;
        return;
    }
    m_window->setMinimumSize(minimumSize);
    m_window->resize(initialSize);
    m_window->installEventFilter(this);

    // Moves and resizes arrive in bursts: store the frame once they settle.
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(500);
    connect(&m_saveTimer, &QTimer::timeout, this, &MainWindow::saveFrame);
    for (auto signal : {&QWindow::xChanged, &QWindow::yChanged, &QWindow::widthChanged, &QWindow::heightChanged})
        connect(m_window, signal, &m_saveTimer, qOverload<>(&QTimer::start));
}

MainWindow::~MainWindow()
{
    if (!m_window)
        return;
    if (m_window->isVisible())
        saveFrame();
    // A window being destroyed still sends events and signals, by then no
    // longer as a QQuickWindow: stop listening first.
    m_window->removeEventFilter(this);
    m_window->disconnect(&m_saveTimer);
    delete m_window.get();
}

std::optional<QRect> MainWindow::storedFrame() const
{
    const std::optional<QRect> frame = m_preferences.mainWindowFrame();
    if (!frame || frame->width() < minimumSize.width() || frame->height() < minimumSize.height())
        return std::nullopt;
    return frame;
}

QRect MainWindow::centredFrame(const QRect &available, QSize size)
{
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(available.center());
    return frame;
}

void MainWindow::placeFirstTime()
{
    m_placed = true;
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    if (m_options.persistsFrame) {
        if (const auto frame = storedFrame()) {
            // A frame left on a screen that is gone would open the window out of reach.
            bool onScreen = false;
            for (QScreen *s : QGuiApplication::screens())
                onScreen = onScreen || s->availableGeometry().intersects(*frame);
            if (onScreen) {
                m_window->resize(frame->size());
                m_window->setFramePosition(frame->topLeft());
                return;
            }
        }
    }
    const QRect frame = centredFrame(available, m_window->size());
    m_window->setFramePosition(frame.topLeft());
}

void MainWindow::saveFrame()
{
    if (!m_options.persistsFrame || !m_window || !m_placed)
        return;
    const QPoint origin = m_window->framePosition();
    m_preferences.setMainWindowFrame(QRect(origin, m_window->size()));
}

void MainWindow::show()
{
    if (!m_window)
        return;
    if (!m_placed)
        placeFirstTime();
    if (m_window->windowStates() & Qt::WindowMinimized)
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void MainWindow::hide()
{
    if (!m_window)
        return;
    saveFrame();
    m_window->hide();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Closing keeps the window: it is hidden and shown again later.
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
