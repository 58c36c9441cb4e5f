#include "PulseMicrophone.h"

#include <QCoroTimer>
#include <QMetaObject>
#include <QPointer>
#include <chrono>
#include <memory>
#include <pulse/pulseaudio.h>

using namespace std::chrono_literals;

PulseMicrophone::PulseMicrophone(QObject *parent)
    : MicrophoneAccess(parent)
{
    connectToServer();
}

PulseMicrophone::~PulseMicrophone()
{
    disconnectFromServer();
}

void PulseMicrophone::connectToServer()
{
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        publish(denied);
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velunta");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Velunta", props);
    pa_proplist_free(props);
    pa_context_set_state_callback(m_context, &PulseMicrophone::onContextState, this);
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context *c, pa_subscription_event_type_t t, uint32_t i, void *self) { onEvent(c, int(t), i, self); },
        this);
    const bool started = pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
        && pa_threaded_mainloop_start(m_loop) >= 0;
    pa_threaded_mainloop_unlock(m_loop);
    if (!started)
        publish(denied);
}

void PulseMicrophone::disconnectFromServer()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_stop(m_loop);
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

// Runs on the Pulse thread with the loop locked.
void PulseMicrophone::onContextState(pa_context *context, void *opaque)
{
    auto *self = static_cast<PulseMicrophone *>(opaque);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        pa_operation_unref(pa_context_subscribe(context,
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr, nullptr));
        self->refresh();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->publish(denied);
        break;
    default:
        break;
    }
}

void PulseMicrophone::onEvent(pa_context *, int, uint32_t, void *opaque)
{
    static_cast<PulseMicrophone *>(opaque)->refresh();
}

// Lists the inputs that are not monitors of an output; on the Pulse thread.
// Each listing gathers into its own list, so that two overlapping ones (a
// burst of server events) do not mix.
void PulseMicrophone::refresh()
{
    struct Listing {
        PulseMicrophone *self;
        QList<Input> inputs;
    };
    auto *listing = new Listing {this, {}};
    pa_operation *op = pa_context_get_source_info_list(
        m_context,
        [](pa_context *, const pa_source_info *info, int eol, void *opaque) {
            auto *listing = static_cast<Listing *>(opaque);
            if (eol != 0) {
                const std::unique_ptr<Listing> done(listing);
                if (eol < 0) {
                    done->self->publish(denied);
                    return;
                }
                done->self->publish(done->inputs.isEmpty() ? restricted : authorized);
                done->self->publishInputs(std::move(done->inputs));
                return;
            }
            if (info && info->name && info->monitor_of_sink == PA_INVALID_INDEX) {
                const QString name = QString::fromUtf8(info->name);
                const QString description = info->description ? QString::fromUtf8(info->description) : QString();
                listing->inputs.append({name, description.isEmpty() ? name : description});
            }
        },
        listing);
    if (op)
        pa_operation_unref(op);
    else
        delete listing;
}

void PulseMicrophone::publishInputs(QList<Input> inputs)
{
    {
        std::lock_guard lock(m_inputsMutex);
        if (m_inputs == inputs)
            return;
        m_inputs = std::move(inputs);
    }
    QMetaObject::invokeMethod(
        this, [this] { emit inputsChanged(); }, Qt::QueuedConnection);
}

QList<MicrophoneAccess::Input> PulseMicrophone::inputs() const
{
    std::lock_guard lock(m_inputsMutex);
    return m_inputs;
}

void PulseMicrophone::publish(int status)
{
    if (m_status.exchange(status) == status)
        return;
    QMetaObject::invokeMethod(
        this, [this] { emit statusChanged(); }, Qt::QueuedConnection);
}

QCoro::Task<bool> PulseMicrophone::requestAccess()
{
    QPointer<PulseMicrophone> self(this);
    // The first answer normally arrives within milliseconds of start-up.
    for (int i = 0; i < 60 && self && self->status() == notDetermined; ++i)
        co_await QCoro::sleepFor(50ms);
    co_return self && self->status() == authorized;
}
