#include "PulseAudioCapture.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <poll.h>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// How long a recording's sound may wait in the connection before it is taken.
constexpr std::chrono::milliseconds pace {200};

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PlatformError soundError(const QString &what, pa_context *context)
{
    const char *reason = context ? pa_strerror(pa_context_errno(context)) : nullptr;
    return {QStringLiteral("Não foi possível gravar o áudio: %1%2")
                .arg(what, reason ? QStringLiteral(" (%1)").arg(QString::fromUtf8(reason)) : QString())};
}

} // namespace

struct PulseAudioCapture::Private {
    // The server's loop runs on a thread of its own that holds `lock` except
    // while it waits (as libpulse's threaded loop does), so that a
    // recording's sound can be taken at a pace of its own (see pollPaced).
    pa_mainloop *loop = nullptr;
    std::thread thread;
    std::mutex lock;
    std::mutex paceLock;
    std::condition_variable paceWake;
    bool stopping = false; // paceLock
    bool catchingUp = false; // loop thread
    pa_context *context = nullptr;
    struct Stream {
        Private *owner = nullptr;
        int index = 0;
        pa_stream *stream = nullptr;
    };
    std::vector<std::unique_ptr<Stream>> streams;
    int sampleRate = 48000;
    int channels = 2;
    OnChunk onChunk;
    OnFailure onFailure;
    std::atomic<bool> running {false};
    std::atomic<bool> failed {false};

    // Server answers collected while opening (loop locked).
    std::string defaultSink;
    std::string defaultSource;
    std::string monitorOfSink;
    std::string firstInput;
    std::string wantedInput; // the microphone asked for by name
    bool hasWantedInput = false;
    bool usesDefaultInstead = false;
    bool defaultSourceIsMonitor = false;
    std::atomic<bool> answered {false};

    ~Private()
    {
        if (!loop)
            return;
        stopLoop();
        for (auto &stream : streams) {
            if (!stream->stream)
                continue;
            pa_stream_set_read_callback(stream->stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream->stream, nullptr, nullptr);
            pa_stream_disconnect(stream->stream);
            pa_stream_unref(stream->stream);
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_mainloop_free(loop);
    }

    void startLoop()
    {
        pa_mainloop_set_poll_func(loop, &Private::pollPaced, this);
        thread = std::thread([this] {
            std::lock_guard held(lock);
            pa_mainloop_run(loop, nullptr);
        });
    }

    void stopLoop()
    {
        if (!thread.joinable())
            return;
        {
            std::lock_guard held(paceLock);
            stopping = true;
        }
        paceWake.notify_all();
        {
            std::lock_guard held(lock);
            pa_mainloop_quit(loop, 0);
        }
        pa_mainloop_wakeup(loop);
        thread.join();
    }

    // The loop's wait, with `lock` let go. The server sends a fragment every
    // 20 ms or so when any client asks for that latency (and hardware
    // often does): taking each as it comes woke this thread and the writer
    // 50 times a second, most of a still screen's cost. While recording, the
    // wait is therefore held back by `pace` unless the loop has work due
    // at once; what came meanwhile is read in a row of waits that do not
    // block, and only then taken from the streams, so that the last sample
    // read is still about the newest one captured.
    static int pollPaced(pollfd *fds, unsigned long count, int timeout, void *opaque)
    {
        auto *p = static_cast<Private *>(opaque);
        p->lock.unlock();
        int ready = 0;
        if (p->catchingUp) {
            ready = ::poll(fds, count, 0);
            if (ready == 0) {
                p->catchingUp = false;
                std::lock_guard held(p->lock);
                p->takeAll();
            }
        }
        if (!p->catchingUp) {
            if (p->running && timeout != 0) {
                const auto pause = timeout < 0 ? pace : std::min(pace, std::chrono::milliseconds(timeout));
                std::unique_lock held(p->paceLock);
                p->paceWake.wait_for(held, pause, [p] { return p->stopping; });
                if (timeout > 0)
                    timeout = std::max(0, timeout - int(pause.count()));
            }
            ready = ::poll(fds, count, timeout);
            p->catchingUp = p->running && ready > 0;
        }
        p->lock.lock();
        return ready;
    }

    // Every stream's readable sound, to the callback. Loop thread, locked.
    void takeAll()
    {
        for (auto &stream : streams)
            if (stream->stream && pa_stream_get_state(stream->stream) == PA_STREAM_READY)
                take(stream->stream, *stream);
    }

    void fail(PlatformError error)
    {
        if (running && !failed.exchange(true) && onFailure)
            onFailure(std::move(error));
    }

    // Runs an operation to its end; the loop is locked by the caller.
    bool await(pa_operation *operation)
    {
        if (!operation)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            if (std::chrono::steady_clock::now() > deadline) {
                pa_operation_cancel(operation);
                pa_operation_unref(operation);
                return false;
            }
            lock.unlock();
            std::this_thread::sleep_for(2ms);
            lock.lock();
        }
        pa_operation_unref(operation);
        return true;
    }

    // Waits until CHECK answers true or false, for a few seconds; loop locked.
    template <typename Check> bool waitFor(Check check)
    {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        for (;;) {
            if (const auto answer = check(); answer.has_value())
                return *answer;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            lock.unlock();
            std::this_thread::sleep_for(2ms);
            lock.lock();
        }
    }

    static void onRead(pa_stream *stream, size_t, void *opaque)
    {
        auto *s = static_cast<Stream *>(opaque);
        // While recording, taken once the loop has caught up (pollPaced);
        // before, dropped at once.
        if (!s->owner->running)
            s->owner->take(stream, *s);
    }

    void take(pa_stream *stream, Stream &source)
    {
        Stream *s = &source;
        Private &p = *this;
        const int64_t now = steadyNanoseconds();
        const size_t frameBytes = sizeof(float) * size_t(p.channels);
        // Everything readable now: the last of it was captured about now.
        // Taken in that many bytes and no more: every call into the library
        // costs, 50 times a second, and what comes meanwhile has a call of its own.
        size_t readable = pa_stream_readable_size(stream);
        if (readable == size_t(-1)) {
            p.fail(soundError(QStringLiteral("a leitura falhou"), p.context));
            return;
        }
        int64_t remaining = int64_t(readable / frameBytes);
        while (readable > 0) {
            const void *data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0) {
                p.fail(soundError(QStringLiteral("a leitura falhou"), p.context));
                return;
            }
            if (bytes == 0)
                break;
            readable -= std::min(bytes, readable);
            const int64_t frames = int64_t(bytes / frameBytes);
            if (frames > 0 && p.running && p.onChunk) {
                Chunk chunk;
                chunk.stream = s->index;
                chunk.samples = static_cast<const float *>(data);
                chunk.frames = frames;
                chunk.captureNanoseconds = now - remaining * 1000000000LL / p.sampleRate;
                p.onChunk(chunk);
            }
            remaining = std::max<int64_t>(frames, remaining) - frames;
            pa_stream_drop(stream);
        }
    }

    static void onStreamState(pa_stream *stream, void *opaque)
    {
        auto *s = static_cast<Stream *>(opaque);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            s->owner->fail(soundError(QStringLiteral("a entrada de som parou"), s->owner->context));
    }

    static void onContextState(pa_context *context, void *opaque)
    {
        auto *p = static_cast<Private *>(opaque);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            p->fail(soundError(QStringLiteral("a conexão com o servidor de som caiu"), context));
    }
};

PulseAudioCapture::PulseAudioCapture()
    : d(std::make_unique<Private>())
{
}

PulseAudioCapture::~PulseAudioCapture() = default;

bool PulseAudioCapture::usesDefaultInstead() const
{
    return d->usesDefaultInstead;
}

Result<std::unique_ptr<PulseAudioCapture>, PlatformError> PulseAudioCapture::open(std::vector<Source> sources,
    const std::string &microphone, int sampleRate, int channels, OnChunk onChunk, OnFailure onFailure)
{
    using R = Result<std::unique_ptr<PulseAudioCapture>, PlatformError>;
    std::unique_ptr<PulseAudioCapture> capture(new PulseAudioCapture());
    Private &p = *capture->d;
    p.sampleRate = sampleRate;
    p.channels = channels;
    p.onChunk = std::move(onChunk);
    p.onFailure = std::move(onFailure);
    p.wantedInput = microphone;

    p.loop = pa_mainloop_new();
    if (!p.loop)
        return R::failure(soundError(QStringLiteral("sem servidor de som"), nullptr));
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velunta");
    p.context = pa_context_new_with_proplist(pa_mainloop_get_api(p.loop), "Velunta", props);
    pa_proplist_free(props);
    if (!p.context)
        return R::failure(soundError(QStringLiteral("sem servidor de som"), nullptr));
    if (pa_context_connect(p.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return R::failure(soundError(QStringLiteral("sem servidor de som"), p.context));
    // Locked before the loop runs, unlocked on every way out.
    std::unique_lock locked(p.lock);
    p.startLoop();

    const bool ready = p.waitFor([&]() -> std::optional<bool> {
        switch (pa_context_get_state(p.context)) {
        case PA_CONTEXT_READY:
            return true;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            return false;
        default:
            return std::nullopt;
        }
    });
    if (!ready)
        return R::failure(soundError(QStringLiteral("sem conexão com o servidor de som"), p.context));
    pa_context_set_state_callback(p.context, &Private::onContextState, &p);

    const bool hasServerInfo = p.await(pa_context_get_server_info(
        p.context,
        [](pa_context *, const pa_server_info *info, void *opaque) {
            auto *p = static_cast<Private *>(opaque);
            if (info && info->default_sink_name)
                p->defaultSink = info->default_sink_name;
            if (info && info->default_source_name)
                p->defaultSource = info->default_source_name;
        },
        &p));
    if (!hasServerInfo)
        return R::failure(soundError(QStringLiteral("o servidor de som não respondeu"), p.context));

    std::vector<std::string> names;
    for (const Source source : sources) {
        if (source == Source::systemAudio) {
            p.monitorOfSink.clear();
            if (!p.defaultSink.empty()) {
                p.await(pa_context_get_sink_info_by_name(
                    p.context, p.defaultSink.c_str(),
                    [](pa_context *, const pa_sink_info *info, int eol, void *opaque) {
                        if (eol == 0 && info && info->monitor_source_name)
                            static_cast<Private *>(opaque)->monitorOfSink = info->monitor_source_name;
                    },
                    &p));
            }
            if (p.monitorOfSink.empty())
                return R::failure(soundError(QStringLiteral("nenhuma saída de som encontrada"), nullptr));
            names.push_back(p.monitorOfSink);
        } else {
            p.defaultSourceIsMonitor = false;
            p.hasWantedInput = false;
            p.firstInput.clear();
            p.await(pa_context_get_source_info_list(
                p.context,
                [](pa_context *, const pa_source_info *info, int eol, void *opaque) {
                    auto *p = static_cast<Private *>(opaque);
                    if (eol != 0 || !info || !info->name)
                        return;
                    const bool monitor = info->monitor_of_sink != PA_INVALID_INDEX;
                    if (p->defaultSource == info->name)
                        p->defaultSourceIsMonitor = monitor;
                    if (!monitor && p->firstInput.empty())
                        p->firstInput = info->name;
                    // A monitor is system audio, never a microphone, even when asked for.
                    if (!monitor && !p->wantedInput.empty() && p->wantedInput == info->name)
                        p->hasWantedInput = true;
                },
                &p));
            p.usesDefaultInstead = !p.wantedInput.empty() && !p.hasWantedInput;
            const std::string name = p.hasWantedInput                   ? p.wantedInput
                : !p.defaultSource.empty() && !p.defaultSourceIsMonitor ? p.defaultSource
                                                                        : p.firstInput;
            if (name.empty())
                return R::failure(soundError(QStringLiteral("nenhum microfone encontrado"), nullptr));
            names.push_back(name);
        }
    }

    pa_sample_spec format {PA_SAMPLE_FLOAT32NE, uint32_t(sampleRate), uint8_t(channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, uint8_t(channels), PA_CHANNEL_MAP_DEFAULT);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(20000, &format));
    for (size_t i = 0; i < names.size(); ++i) {
        auto stream = std::make_unique<Private::Stream>();
        stream->owner = &p;
        stream->index = int(i);
        stream->stream = pa_stream_new(p.context, "Velunta", &format, &map);
        if (!stream->stream)
            return R::failure(soundError(QStringLiteral("a entrada de som não abriu"), p.context));
        pa_stream_set_read_callback(stream->stream, &Private::onRead, stream.get());
        pa_stream_set_state_callback(stream->stream, &Private::onStreamState, stream.get());
        pa_stream *raw = stream->stream;
        p.streams.push_back(std::move(stream));
        if (pa_stream_connect_record(raw, names[i].c_str(), &attributes, PA_STREAM_NOFLAGS) < 0)
            return R::failure(soundError(QStringLiteral("a entrada de som não abriu"), p.context));
    }
    for (auto &stream : p.streams) {
        const bool connected = p.waitFor([&]() -> std::optional<bool> {
            switch (pa_stream_get_state(stream->stream)) {
            case PA_STREAM_READY:
                return true;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                return false;
            default:
                return std::nullopt;
            }
        });
        if (!connected)
            return R::failure(soundError(QStringLiteral("a entrada de som não abriu"), p.context));
    }
    p.running = true;
    return capture;
}
