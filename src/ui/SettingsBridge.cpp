#include "SettingsBridge.h"

#include "core/Settings.h"

SettingsBridge::SettingsBridge(QObject *parent)
    : QObject(parent)
{
    refresh();
    connect(&Settings::notifier(), &Settings::Notifier::changed, this, &SettingsBridge::refresh);
}

void SettingsBridge::refresh()
{
    auto update = [this](bool value, bool &field, void (SettingsBridge::*changed)()) {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
    };
    update(Settings::capturesSystemAudio(), m_capturesSystemAudio, &SettingsBridge::capturesSystemAudioChanged);
    update(Settings::capturesMicrophone(), m_capturesMicrophone, &SettingsBridge::capturesMicrophoneChanged);
    update(Settings::copiesToClipboard(), m_copiesScreenshots, &SettingsBridge::copiesScreenshotsChanged);
}

void SettingsBridge::store(const char *key, bool value, bool &field, void (SettingsBridge::*changed)())
{
    Settings::setValue(key, value);
    if (field != value) {
        field = value;
        emit(this->*changed)();
    }
}

void SettingsBridge::setCapturesSystemAudio(bool value)
{
    store(
        Settings::Key::capturesSystemAudio, value, m_capturesSystemAudio, &SettingsBridge::capturesSystemAudioChanged);
}

void SettingsBridge::setCapturesMicrophone(bool value)
{
    store(Settings::Key::capturesMicrophone, value, m_capturesMicrophone, &SettingsBridge::capturesMicrophoneChanged);
}

void SettingsBridge::setCopiesScreenshots(bool value)
{
    store(Settings::Key::copiesScreenshots, value, m_copiesScreenshots, &SettingsBridge::copiesScreenshotsChanged);
}
