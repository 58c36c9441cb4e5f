#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QRect>
#include <QTimer>
#include <optional>

class AppModel;
class MainMenu;
class Preferences;
class QQmlEngine;

// The main window: sidebar, capture page, library and settings over the
// model. Built once and then only hidden and shown; closing it hides it. Its
// frame is kept in the preferences (centred the first time) unless
// `persistsFrame` is off, as for snapshots.
class MainWindow : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool persistsFrame = true;
    };

    static constexpr QSize initialSize {980, 660};
    static constexpr QSize minimumSize {820, 560};

    // PREFERENCES and MODEL are owned by the caller and outlive the window.
    MainWindow(QQmlEngine &engine, Preferences &preferences, AppModel &model, MainMenu *menu, Options options,
        QObject *parent = nullptr);
    MainWindow(QQmlEngine &engine, Preferences &preferences, AppModel &model, MainMenu *menu, QObject *parent = nullptr)
        : MainWindow(engine, preferences, model, menu, Options(), parent)
    {
    }
    ~MainWindow() override;

    // Null when the views could not be built (an error is printed).
    QQuickWindow *window() const { return m_window; }
    bool isVisible() const { return m_window && m_window->isVisible(); }
    // Shows it, in front, as the active window.
    void show();
    void hide();
    void setPersistsFrame(bool persists) { m_options.persistsFrame = persists; }

    // The frame as stored; nullopt when absent, garbled or below the minimum size.
    std::optional<QRect> storedFrame() const;
    static QRect centredFrame(const QRect &available, QSize size);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeFirstTime();
    void saveFrame();

    Preferences &m_preferences;
    QPointer<QQuickWindow> m_window;
    Options m_options;
    bool m_placed = false;
    QTimer m_saveTimer;
};
