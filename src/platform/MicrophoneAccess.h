#pragma once

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>

// Whether recordings can take sound from a microphone. Linux has no per-app
// permission: what counts is whether the sound server answers and has an
// input. The values are those the windows show.
class MicrophoneAccess : public QObject {
    Q_OBJECT
public:
    enum Status { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    // An input a microphone can be recorded from: the sound server's name for
    // it (what the settings keep) and the description people recognise.
    struct Input {
        QString name;
        QString description;
        bool operator==(const Input &) const = default;
    };

    using QObject::QObject;

    // The last known answer; never waits.
    virtual int status() const = 0;
    // Waits for the sound server's answer; true when a microphone can be used.
    virtual QCoro::Task<bool> requestAccess() = 0;
    // The inputs there are now, never monitors of an output; never waits.
    virtual QList<Input> inputs() const { return {}; }

signals:
    void statusChanged();
    void inputsChanged();
};
