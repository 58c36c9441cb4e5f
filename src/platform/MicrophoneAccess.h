#pragma once

#include <QCoroTask>
#include <QObject>

// Whether recordings can take sound from a microphone. Linux has no per-app
// permission: what counts is whether the sound server answers and has an
// input. The values are those the windows show.
class MicrophoneAccess : public QObject {
    Q_OBJECT
public:
    enum Status { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    using QObject::QObject;

    // The last known answer; never waits.
    virtual int status() const = 0;
    // Waits for the sound server's answer; true when a microphone can be used.
    virtual QCoro::Task<bool> requestAccess() = 0;

signals:
    void statusChanged();
};
