#pragma once

#include "platform/MicrophoneAccess.h"

#include <atomic>
#include <mutex>

struct pa_threaded_mainloop;
struct pa_context;

// Keeps the microphone status, and the list of inputs, current from PulseAudio (or PipeWire's Pulse
// server): connected with an input source that is not a monitor means
// authorized, no such source restricted, a refused connection denied. The
// answer is cached and refreshed by server events, so reading it never waits.
class PulseMicrophone : public MicrophoneAccess {
    Q_OBJECT
public:
    explicit PulseMicrophone(QObject *parent = nullptr);
    ~PulseMicrophone() override;

    int status() const override { return m_status.load(); }
    QCoro::Task<bool> requestAccess() override;
    QList<Input> inputs() const override;

private:
    void connectToServer();
    void disconnectFromServer();
    void refresh();
    void publish(int status);
    void publishInputs(QList<Input> inputs);

    static void onContextState(pa_context *context, void *self);
    static void onEvent(pa_context *context, int type, uint32_t index, void *self);

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    std::atomic<int> m_status {notDetermined};
    mutable std::mutex m_inputsMutex;
    QList<Input> m_inputs;
};
