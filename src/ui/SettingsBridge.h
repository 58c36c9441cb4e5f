#pragma once

#include <QObject>

// The capture options of the settings store for QML. A toggle writes its key
// at once; a value written anywhere else (the tray menu, the microphone
// grant) shows at once too, and `refresh()` reads the store again.
class SettingsBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool capturesSystemAudio READ capturesSystemAudio WRITE setCapturesSystemAudio NOTIFY
            capturesSystemAudioChanged)
    Q_PROPERTY(
        bool capturesMicrophone READ capturesMicrophone WRITE setCapturesMicrophone NOTIFY capturesMicrophoneChanged)
    Q_PROPERTY(bool copiesScreenshots READ copiesScreenshots WRITE setCopiesScreenshots NOTIFY copiesScreenshotsChanged)

public:
    explicit SettingsBridge(QObject *parent = nullptr);

    bool capturesSystemAudio() const { return m_capturesSystemAudio; }
    bool capturesMicrophone() const { return m_capturesMicrophone; }
    bool copiesScreenshots() const { return m_copiesScreenshots; }
    void setCapturesSystemAudio(bool value);
    void setCapturesMicrophone(bool value);
    void setCopiesScreenshots(bool value);

    Q_INVOKABLE void refresh();

signals:
    void capturesSystemAudioChanged();
    void capturesMicrophoneChanged();
    void copiesScreenshotsChanged();

private:
    void store(const char *key, bool value, bool &field, void (SettingsBridge::*changed)());

    bool m_capturesSystemAudio = true;
    bool m_capturesMicrophone = false;
    bool m_copiesScreenshots = true;
};
