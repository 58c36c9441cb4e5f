#include "DmaBufProducer.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

// One buffer's memory, as the producer writes it.
struct Mapping {
    int fd = -1;
    uint8_t *address = nullptr;
    size_t size = 0;
};

} // namespace

struct DmaBufProducer::State {
    Options options;
    int stride = 0;
    uint32_t bufferSize = 0;

    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    spa_source *timer = nullptr;
    spa_hook streamListener {};

    uint64_t number = 0;
    std::atomic<uint32_t> node {0};
    std::atomic<uint64_t> sent {0};
    std::atomic<bool> dmaBufs {false};

    const spa_pod *enumFormat(spa_pod_builder &builder) const
    {
        spa_pod_frame frame {};
        const spa_rectangle size {uint32_t(options.size.width()), uint32_t(options.size.height())};
        const spa_fraction rate {uint32_t(options.rate), 1};
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(options.format),
            SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), 0);
        spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
        if (options.modifiers.size() == 1) {
            spa_pod_builder_long(&builder, int64_t(options.modifiers.front()));
        } else {
            spa_pod_frame choice {};
            spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
            spa_pod_builder_long(&builder, int64_t(options.modifiers.front()));
            for (uint64_t modifier : options.modifiers)
                spa_pod_builder_long(&builder, int64_t(modifier));
            spa_pod_builder_pop(&builder, &choice);
        }
        return static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
    }

    void onStateChanged(pw_stream_state state)
    {
        if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)
            node = pw_stream_get_node_id(stream);
    }

    void onParamChanged(uint32_t id, const spa_pod *param)
    {
        if (id != SPA_PARAM_Format || !param)
            return;
        std::array<uint8_t, 1024> storage {};
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
        std::array<const spa_pod *, 2> params {};
        spa_pod_frame frame {};
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 8),
            SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size, SPA_POD_Int(int(bufferSize)),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_DmaBuf), 0);
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
        spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
            SPA_POD_Int(int(sizeof(spa_meta_header))), 0);
        params[1] = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
        pw_stream_update_params(stream, params.data(), uint32_t(params.size()));
    }

    void onAddBuffer(pw_buffer *buffer)
    {
        spa_data &data = buffer->buffer->datas[0];
        auto mapping = std::make_unique<Mapping>();
        mapping->size = size_t(options.mapOffset) + bufferSize;
        mapping->fd = memfd_create("velunta-test-dmabuf", MFD_CLOEXEC);
        if (mapping->fd < 0 || ftruncate(mapping->fd, off_t(mapping->size)) < 0)
            return;
        void *address = mmap(nullptr, mapping->size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->fd, 0);
        if (address == MAP_FAILED) {
            close(mapping->fd);
            return;
        }
        mapping->address = static_cast<uint8_t *>(address);
        // What a reader must never show.
        for (size_t i = 0; i + 4 <= mapping->size; i += 4)
            std::memcpy(mapping->address + i, "\xff\x00\xff\x77", 4);
        data.type = SPA_DATA_DmaBuf;
        data.flags = SPA_DATA_FLAG_READWRITE;
        data.fd = mapping->fd;
        data.mapoffset = options.mapOffset;
        data.maxsize = bufferSize;
        data.data = nullptr;
        buffer->user_data = mapping.release();
        dmaBufs = true;
    }

    static void onRemoveBuffer(pw_buffer *buffer)
    {
        std::unique_ptr<Mapping> mapping(static_cast<Mapping *>(buffer->user_data));
        buffer->user_data = nullptr;
        if (!mapping)
            return;
        munmap(mapping->address, mapping->size);
        close(mapping->fd);
    }

    // Writes the next picture into a free buffer and hands it on.
    void onProcess()
    {
        pw_buffer *buffer = pw_stream_dequeue_buffer(stream);
        if (!buffer)
            return;
        const auto *mapping = static_cast<const Mapping *>(buffer->user_data);
        spa_data &data = buffer->buffer->datas[0];
        if (!mapping) {
            pw_stream_queue_buffer(stream, buffer);
            return;
        }
        QImage picture = options.picture(number).convertToFormat(
            options.format == SPA_VIDEO_FORMAT_RGBx ? QImage::Format_RGBX8888 : QImage::Format_RGB32);
        uint8_t *rows = mapping->address + options.mapOffset + options.chunkOffset;
        for (int y = 0; y < picture.height(); ++y)
            std::memcpy(rows + size_t(y) * size_t(stride), picture.constScanLine(y), size_t(picture.width()) * 4);
        data.chunk->offset = options.chunkOffset;
        data.chunk->stride = stride;
        data.chunk->size = uint32_t(stride * (options.size.height() - 1) + options.size.width() * 4);
        data.chunk->flags = SPA_CHUNK_FLAG_NONE;
        if (auto *header = static_cast<spa_meta_header *>(
                spa_buffer_find_meta_data(buffer->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
            header->flags = 0;
            header->offset = 0;
            header->pts = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                              .count();
            header->dts_offset = 0;
            header->seq = number;
        }
        ++number;
        pw_stream_queue_buffer(stream, buffer);
        ++sent;
    }
};

namespace {

pw_stream_events producerEvents()
{
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void *data, pw_stream_state, pw_stream_state state, const char *) {
        static_cast<DmaBufProducer::State *>(data)->onStateChanged(state);
    };
    events.param_changed = [](void *data, uint32_t id, const spa_pod *param) {
        static_cast<DmaBufProducer::State *>(data)->onParamChanged(id, param);
    };
    events.add_buffer
        = [](void *data, pw_buffer *buffer) { static_cast<DmaBufProducer::State *>(data)->onAddBuffer(buffer); };
    events.remove_buffer = [](void *, pw_buffer *buffer) { DmaBufProducer::State::onRemoveBuffer(buffer); };
    events.process = [](void *data) { static_cast<DmaBufProducer::State *>(data)->onProcess(); };
    return events;
}

const pw_stream_events producerEventTable = producerEvents();

} // namespace

DmaBufProducer::DmaBufProducer(Options options)
    : m_state(std::make_unique<State>())
{
    static std::once_flag initialized;
    std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
    State &s = *m_state;
    s.options = std::move(options);
    s.stride = s.options.stride > 0 ? s.options.stride : s.options.size.width() * 4;
    // Room for whole rows even where the stride asked for is too short.
    const int rowSpace = std::max(s.stride, s.options.size.width() * 4);
    s.bufferSize = s.options.chunkOffset + uint32_t(rowSpace) * uint32_t(s.options.size.height());

    s.loop = pw_thread_loop_new("velunta-test-producer", nullptr);
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    pw_thread_loop_start(s.loop);
    pw_thread_loop_lock(s.loop);
    s.core = pw_context_connect(s.context, nullptr, 0);
    if (s.core) {
        const QByteArray name = s.options.name.toUtf8();
        s.stream = pw_stream_new(s.core, name.constData(),
            pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, name.constData(), nullptr));
        pw_stream_add_listener(s.stream, &s.streamListener, &producerEventTable, &s);
        std::array<uint8_t, 1024> storage {};
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
        const spa_pod *format = s.enumFormat(builder);
        pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_ALLOC_BUFFERS), &format, 1);
        // The stream drives its graph: each tick asks for one picture.
        s.timer = pw_loop_add_timer(
            pw_thread_loop_get_loop(s.loop),
            [](void *data, uint64_t) { pw_stream_trigger_process(static_cast<State *>(data)->stream); }, &s);
        timespec first {0, 1000000};
        timespec interval {0, long(1000000000 / s.options.rate)};
        pw_loop_update_timer(pw_thread_loop_get_loop(s.loop), s.timer, &first, &interval, false);
    }
    pw_thread_loop_unlock(s.loop);

    const QDeadlineTimer deadline(10000);
    while (!s.node && !deadline.hasExpired())
        QThread::msleep(20);
}

DmaBufProducer::~DmaBufProducer()
{
    State &s = *m_state;
    pw_thread_loop_lock(s.loop);
    if (s.timer)
        pw_loop_destroy_source(pw_thread_loop_get_loop(s.loop), s.timer);
    if (s.stream) {
        pw_stream_disconnect(s.stream);
        spa_hook_remove(&s.streamListener);
        pw_stream_destroy(s.stream);
    }
    if (s.core)
        pw_core_disconnect(s.core);
    pw_thread_loop_unlock(s.loop);
    pw_thread_loop_stop(s.loop);
    pw_context_destroy(s.context);
    pw_thread_loop_destroy(s.loop);
}

uint32_t DmaBufProducer::node() const
{
    return m_state->node;
}

uint64_t DmaBufProducer::sent() const
{
    return m_state->sent;
}

bool DmaBufProducer::gaveDmaBufs() const
{
    return m_state->dmaBufs;
}
