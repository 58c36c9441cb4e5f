#include "platform/wayland/PipeWireStream.h"

#include "platform/wayland/DmaBufMapping.h"
#include "platform/wayland/PipeWireFormats.h"
#include "platform/wayland/PipeWireFrames.h"
#include "platform/wayland/PipeWireNodeWatch.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PlatformError ended()
{
    return {QStringLiteral("O compartilhamento da tela terminou.")};
}

PlatformError connectionLost()
{
    return {QStringLiteral("A conexão com o PipeWire foi perdida.")};
}

PlatformError unreadableFormat()
{
    return {
        QStringLiteral("A tela compartilhada só é oferecida em um formato de imagem que o Velunta não consegue ler.")};
}

PlatformError unreadableFrames()
{
    return {QStringLiteral("As imagens da tela compartilhada chegam incompletas ou ilegíveis.")};
}

PlatformError cannotMap(int error)
{
    return {QStringLiteral("Não foi possível ler as imagens da tela compartilhada: %1.")
                .arg(QString::fromLocal8Bit(std::strerror(error)))};
}

// Presentation times are on the monotonic clock when the producer is a
// compositor; anything far from now is some other clock.
int64_t presentationTime(const spa_meta_header *header, int64_t arrival)
{
    if (header && header->pts > 0 && std::abs(int64_t(header->pts) - arrival) < 500000000)
        return int64_t(header->pts);
    return arrival;
}

} // namespace

struct PipeWireStream::State {
    explicit State(const Options &options)
        : options(options)
        , frames(options)
    {
    }

    Options options;

    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener {};
    spa_hook streamListener {};
    // The formats we read, as offered to the producer.
    std::array<uint8_t, 2048> formatStorage {};
    std::array<const spa_pod *, 2> formats {};
    std::unique_ptr<PipeWireNodeWatch> node;

    // Used on the loop's thread only.
    PipeWireFrames frames;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool streaming = false;
    bool interrupted = false;
    std::optional<PlatformError> end;
    QSize size;
    // Pictures are written into one nobody holds, so a reader's copy is never
    // overwritten and steady recording allocates nothing.
    std::array<QImage, 3> pool;
    int latestIndex = -1;
    int64_t latestNanoseconds = 0;
    uint64_t sequence = 0;

    static const pw_core_events coreEvents;
    static const pw_stream_events streamEvents;

    // Any thread.
    void finish(PlatformError reason)
    {
        {
            std::lock_guard lock(mutex);
            if (!end)
                end = std::move(reason);
        }
        changed.notify_all();
    }

    // What follows runs on the loop's thread.

    void onProducerUnreadable()
    {
        bool started = false;
        {
            std::lock_guard lock(mutex);
            started = streaming;
        }
        if (!started)
            finish(unreadableFormat());
    }

    void onParamChanged(uint32_t id, const spa_pod *param)
    {
        if (id != SPA_PARAM_Format)
            return;
        const auto format = PipeWireFormats::videoFormat(param);
        if (!format)
            return;
        if (!PipeWireFormats::linear(*format)) {
            finish(unreadableFormat());
            pw_stream_set_error(stream, -EINVAL, "unreadable modifier");
            return;
        }
        const QSize frameSize(int(format->size.width), int(format->size.height));
        frames.setFormat(frameSize, format->format);
        {
            std::lock_guard lock(mutex);
            size = frameSize;
        }

        std::array<uint8_t, 1024> storage {};
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
        auto params = PipeWireFormats::bufferParams(builder, *format, options.drawsCursor);
        pw_stream_update_params(stream, params.data(), uint32_t(params.size()));
    }

    void onStateChanged(pw_stream_state state, const char *error)
    {
        if (state == PW_STREAM_STATE_STREAMING) {
            {
                std::lock_guard lock(mutex);
                streaming = true;
            }
            changed.notify_all();
        } else if (state == PW_STREAM_STATE_ERROR) {
            finish({QStringLiteral("O PipeWire recusou a transmissão da tela: %1.").arg(QString::fromUtf8(error))});
        } else if (state == PW_STREAM_STATE_UNCONNECTED) {
            finish(ended());
        }
    }

    void onProcess()
    {
        // Only the newest picture matters; older ones go straight back.
        pw_buffer *newest = nullptr;
        while (pw_buffer *next = pw_stream_dequeue_buffer(stream)) {
            if (newest)
                pw_stream_queue_buffer(stream, newest);
            newest = next;
        }
        if (!newest)
            return;
        take(newest);
        pw_stream_queue_buffer(stream, newest);
    }

    static void onAddBuffer(pw_buffer *buffer)
    {
        if (buffer->buffer->n_datas < 1)
            return;
        const spa_data &data = buffer->buffer->datas[0];
        if (data.type != SPA_DATA_DmaBuf || data.data)
            return;
        buffer->user_data
            = std::make_unique<DmaBufMapping>(int(data.fd), size_t(data.maxsize) + data.mapoffset).release();
    }

    static void onRemoveBuffer(pw_buffer *buffer)
    {
        // Unmapped as the buffer goes.
        std::unique_ptr<DmaBufMapping> mapping(static_cast<DmaBufMapping *>(buffer->user_data));
        buffer->user_data = nullptr;
    }

    // A picture that cannot be read is dropped; too many in a row end the
    // stream.
    void dropUnreadable()
    {
        if (frames.dropUnreadable())
            finish(unreadableFrames());
    }

    void take(pw_buffer *pwBuffer)
    {
        spa_buffer *buffer = pwBuffer->buffer;
        const int64_t arrival = steadyNanoseconds();
        if (!frames.hasFormat() || buffer->n_datas < 1)
            return;
        const auto *header = static_cast<const spa_meta_header *>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
            return;
        const bool cursorChanged = options.drawsCursor && frames.readCursor(*buffer);
        const spa_data &data = buffer->datas[0];
        // Cursor-only updates come with no picture: the last one is drawn again.
        if (!data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            if (cursorChanged && !frames.lastSize().isEmpty()) {
                const int index = freeImage(frames.lastSize());
                frames.repaint(pool[size_t(index)]);
                publish(index, arrival);
            }
            return;
        }

        const auto rows = PipeWireFrames::rows(frames.frameSize(), *data.chunk, data.maxsize);
        if (!rows) {
            dropUnreadable();
            return;
        }
        const uint8_t *base = nullptr;
        const bool dmaBuf = data.type == SPA_DATA_DmaBuf;
        if (data.data) {
            base = static_cast<const uint8_t *>(data.data);
        } else if (dmaBuf) {
            // Only negotiated when nothing else was: a linear buffer read
            // through the CPU.
            const auto *mapping = static_cast<const DmaBufMapping *>(pwBuffer->user_data);
            if (!mapping || !mapping->address()) {
                finish(cannotMap(mapping ? mapping->error() : EINVAL));
                return;
            }
            base = mapping->address() + data.mapoffset;
        } else {
            dropUnreadable();
            return;
        }

        std::optional<DmaBufMapping::Read> read;
        if (dmaBuf && !read.emplace(int(data.fd)).started()) {
            dropUnreadable();
            return;
        }
        const int index = freeImage(frames.outputSize());
        frames.paint(base + rows->offset, rows->stride, pool[size_t(index)]);
        read.reset();
        publish(index, presentationTime(header, arrival));
    }

    // An image of SIZE in the pool that no reader holds and is not the latest.
    int freeImage(QSize outSize)
    {
        std::lock_guard lock(mutex);
        for (int i = 0; i < int(pool.size()); ++i) {
            if (i == latestIndex)
                continue;
            QImage &image = pool[size_t(i)];
            if (image.isNull() || image.size() != outSize) {
                image = QImage(outSize, QImage::Format_RGB32);
                return i;
            }
            if (image.isDetached())
                return i;
        }
        // Readers hold all the others: replace one, theirs stay valid.
        const int index = latestIndex == 0 ? 1 : 0;
        pool[size_t(index)] = QImage(outSize, QImage::Format_RGB32);
        return index;
    }

    void publish(int index, int64_t time)
    {
        {
            std::lock_guard lock(mutex);
            latestIndex = index;
            latestNanoseconds = std::max(time, latestNanoseconds);
            ++sequence;
        }
        changed.notify_all();
    }
};

const pw_core_events PipeWireStream::State::coreEvents = [] {
    pw_core_events events {};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = [](void *data, uint32_t id, int /*seq*/, int res, const char * /*message*/) {
        if (id == PW_ID_CORE && res == -EPIPE)
            static_cast<State *>(data)->finish(connectionLost());
    };
    events.done = [](void *data, uint32_t id, int seq) {
        auto *state = static_cast<State *>(data);
        if (id == PW_ID_CORE && state->node)
            state->node->onCoreDone(seq);
    };
    return events;
}();

const pw_stream_events PipeWireStream::State::streamEvents = [] {
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void *data, pw_stream_state, pw_stream_state state, const char *error) {
        static_cast<State *>(data)->onStateChanged(state, error);
    };
    events.param_changed
        = [](void *data, uint32_t id, const spa_pod *param) { static_cast<State *>(data)->onParamChanged(id, param); };
    events.process = [](void *data) { static_cast<State *>(data)->onProcess(); };
    events.add_buffer = [](void *, pw_buffer *buffer) { State::onAddBuffer(buffer); };
    events.remove_buffer = [](void *, pw_buffer *buffer) { State::onRemoveBuffer(buffer); };
    return events;
}();

PipeWireStream::PipeWireStream(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

Result<std::unique_ptr<PipeWireStream>, PlatformError> PipeWireStream::open(const Options &options)
{
    using R = Result<std::unique_ptr<PipeWireStream>, PlatformError>;
    static std::once_flag initialized;
    std::call_once(initialized, [] { pw_init(nullptr, nullptr); });

    auto state = std::make_unique<State>(options);
    State &s = *state;
    // From here on the destructor cleans up whatever exists.
    auto stream = std::unique_ptr<PipeWireStream>(new PipeWireStream(std::move(state)));
    const PlatformError cannotConnect {QStringLiteral("Não foi possível conectar ao PipeWire.")};

    s.loop = pw_thread_loop_new("velunta-cast", nullptr);
    if (!s.loop) {
        if (options.remoteFd >= 0)
            close(options.remoteFd);
        return R::failure(cannotConnect);
    }
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    if (!s.context || pw_thread_loop_start(s.loop) < 0) {
        if (options.remoteFd >= 0)
            close(options.remoteFd);
        return R::failure(cannotConnect);
    }

    pw_thread_loop_lock(s.loop);
    s.core = options.remoteFd >= 0 ? pw_context_connect_fd(s.context, options.remoteFd, nullptr, 0)
                                   : pw_context_connect(s.context, nullptr, 0);
    if (!s.core) {
        pw_thread_loop_unlock(s.loop);
        return R::failure(cannotConnect);
    }
    pw_core_add_listener(s.core, &s.coreListener, &State::coreEvents, &s);
    // Shared memory first; a DMA-BUF only in the linear layout the CPU can
    // read, for producers that have nothing else.
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, s.formatStorage.data(), uint32_t(s.formatStorage.size()));
    s.formats = PipeWireFormats::offered(builder);
    s.node = std::make_unique<PipeWireNodeWatch>(s.core, options.node, s.formats,
        PipeWireNodeWatch::Handlers {[&s] { s.finish(ended()); }, [&s] { s.onProducerUnreadable(); }});
    s.stream = pw_stream_new(s.core, "Velunta",
        pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s.stream) {
        pw_thread_loop_unlock(s.loop);
        return R::failure(cannotConnect);
    }
    pw_stream_add_listener(s.stream, &s.streamListener, &State::streamEvents, &s);

    const int connected = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, options.node,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), s.formats.data(),
        uint32_t(s.formats.size()));
    pw_thread_loop_unlock(s.loop);
    if (connected < 0)
        return R::failure(cannotConnect);

    std::unique_lock lock(s.mutex);
    s.changed.wait_for(lock, options.startTimeout, [&s] { return s.streaming || s.end.has_value(); });
    if (s.end)
        return R::failure(*s.end);
    if (!s.streaming)
        return R::failure({QStringLiteral("A tela compartilhada não começou a transmitir.")});
    lock.unlock();
    return R(std::move(stream));
}

PipeWireStream::~PipeWireStream()
{
    State &s = *m_state;
    if (!s.loop)
        return;
    pw_thread_loop_lock(s.loop);
    if (s.stream) {
        // Still listening: the buffers' mappings go with them.
        pw_stream_disconnect(s.stream);
        spa_hook_remove(&s.streamListener);
        pw_stream_destroy(s.stream);
    }
    s.node.reset();
    if (s.core) {
        spa_hook_remove(&s.coreListener);
        pw_core_disconnect(s.core);
    }
    pw_thread_loop_unlock(s.loop);
    pw_thread_loop_stop(s.loop);
    if (s.context)
        pw_context_destroy(s.context);
    pw_thread_loop_destroy(s.loop);
}

PipeWireStream::Wait PipeWireStream::waitForFrame(uint64_t seen, std::chrono::milliseconds timeout)
{
    State &s = *m_state;
    std::unique_lock lock(s.mutex);
    s.changed.wait_for(lock, timeout, [&] { return s.interrupted || s.end || s.sequence > seen; });
    if (s.interrupted) {
        s.interrupted = false;
        return Wait::interrupted;
    }
    if (s.end)
        return Wait::ended;
    return s.sequence > seen ? Wait::frame : Wait::timedOut;
}

PipeWireStream::Frame PipeWireStream::latest() const
{
    const State &s = *m_state;
    std::lock_guard lock(s.mutex);
    if (s.latestIndex < 0)
        return {};
    return {s.pool[size_t(s.latestIndex)], s.latestNanoseconds, s.sequence};
}

void PipeWireStream::interrupt()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->interrupted = true;
    }
    m_state->changed.notify_all();
}

PlatformError PipeWireStream::endReason() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->end.value_or(ended());
}

QSize PipeWireStream::sourceSize() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->size;
}
