#include "platform/wayland/PipeWireStream.h"

#include "platform/wayland/DesktopUnits.h"

#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/pod/filter.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QPainter>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

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

// Brackets CPU reads of a DMA-BUF so that the exporter's caches agree with
// memory. The kernel asks for a retry on EINTR and EAGAIN. Memory that is not
// a real dma-buf (a memfd a producer without a GPU passes as one) answers
// ENOTTY: there is nothing to sync then.
bool syncDmaBuf(int fd, uint64_t flags)
{
    dma_buf_sync sync {flags};
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (ioctl(fd, DMA_BUF_IOCTL_SYNC, &sync) == 0 || errno == ENOTTY)
            return true;
        if (errno != EINTR && errno != EAGAIN)
            return false;
    }
    return false;
}

// A DMA-BUF mapped once, when PipeWire hands the buffer over, and kept for
// as long as the buffer lives: mapping it again for every picture costs page
// faults on each of its pages.
struct DmaBufMapping {
    void *address = MAP_FAILED;
    size_t size = 0;
    int error = 0;
};

// So many unreadable pictures in a row end the stream: a producer that sends
// only such pictures would otherwise leave a recording waiting for frames.
constexpr int unreadableLimit = 10;

// The size of the pictures handed out.
QSize outputSize(const PipeWireStream::Options &options, QSize frame)
{
    if (options.wanted.isEmpty())
        return frame;
    if (!options.size.isEmpty())
        return options.size;
    return options.wanted.size().toSize();
}

// Where the wanted area lies in a picture of FRAME pixels.
QRect sourceRect(const PipeWireStream::Options &options, QSize frame)
{
    if (options.wanted.isEmpty())
        return QRect(QPoint(0, 0), frame);
    const QSize size = outputSize(options, frame);
    // A portal that did not say where the monitor lies: at the origin, one
    // pixel a unit.
    if (options.shown.isEmpty())
        return QRect(options.wanted.topLeft().toPoint(), size);
    return DesktopUnits::inPicture(options.shown, frame, options.wanted, size);
}

// The raw video formats we read, in shared memory or, with LINEAR, as a
// DMA-BUF in the linear layout (modifier 0, DRM_FORMAT_MOD_LINEAR).
const spa_pod *enumFormat(spa_pod_builder &builder, bool linear)
{
    spa_pod_frame frame {};
    spa_rectangle defaultSize {1920, 1080};
    spa_rectangle minimumSize {1, 1};
    spa_rectangle maximumSize {16384, 16384};
    spa_fraction defaultRate {30, 1};
    spa_fraction minimumRate {0, 1};
    spa_fraction maximumRate {1000, 1};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
            SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minimumSize, &maximumSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minimumRate, &maximumRate), 0);
    if (linear) {
        spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
        spa_pod_builder_long(&builder, 0);
    }
    return static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
}

} // namespace

struct PipeWireStream::State {
    Options options;

    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_registry *registry = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener {};
    spa_hook registryListener {};
    spa_hook streamListener {};
    // The formats we read, as offered to the producer.
    std::array<uint8_t, 2048> formatStorage {};
    std::array<const spa_pod *, 2> formats {};

    // The producer's output ports, asked which formats they offer: when none
    // is one we read, PipeWire would only leave the stream unlinked.
    struct PortWatch {
        State *state = nullptr;
        pw_proxy *proxy = nullptr;
        spa_hook listener {};
        int done = -1;
        int offered = 0;
        bool readable = false;
    };
    std::vector<std::unique_ptr<PortWatch>> ports;

    // Written on the loop's thread only.
    spa_video_info_raw format {};
    bool hasFormat = false;
    QImage clean;
    QRect cleanFrom;
    QPoint cursorPosition;
    QPoint cursorHotspot;
    QImage cursorImage;
    int unreadable = 0;

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

    void finish(PlatformError reason)
    {
        {
            std::lock_guard lock(mutex);
            if (!end)
                end = std::move(reason);
        }
        changed.notify_all();
    }

    void onGlobal(uint32_t id, const char *type, const spa_dict *props)
    {
        if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Port) != 0)
            return;
        const char *nodeId = spa_dict_lookup(props, PW_KEY_NODE_ID);
        const char *direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
        if (!nodeId || !direction || std::strcmp(direction, "out") != 0
            || std::strtoul(nodeId, nullptr, 10) != options.node)
            return;
        auto watch = std::make_unique<PortWatch>();
        watch->state = this;
        watch->proxy
            = static_cast<pw_proxy *>(pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Port, PW_VERSION_PORT, 0));
        if (!watch->proxy)
            return;
        addPortListener(*watch);
        pw_port_enum_params(reinterpret_cast<pw_port *>(watch->proxy), 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
        // Every answer to the question comes before the answer to this.
        watch->done = pw_core_sync(core, PW_ID_CORE, 0);
        ports.push_back(std::move(watch));
    }

    static void addPortListener(PortWatch &watch);

    void onPortFormat(PortWatch &watch, const spa_pod *offered)
    {
        ++watch.offered;
        for (const spa_pod *ours : formats) {
            std::array<uint8_t, 4096> storage {};
            spa_pod_builder builder {};
            spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
            spa_pod *common = nullptr;
            // Out of room says nothing about the format: PipeWire decides.
            const int res = spa_pod_filter(&builder, &common, offered, ours);
            if (res >= 0 || res == -ENOSPC)
                watch.readable = true;
        }
    }

    void onCoreDone(int seq)
    {
        for (const auto &watch : ports) {
            if (watch->done != seq)
                continue;
            watch->done = -1;
            bool started = false;
            {
                std::lock_guard lock(mutex);
                started = streaming;
            }
            if (watch->offered > 0 && !watch->readable && !started)
                finish(unreadableFormat());
        }
    }

    void onParamChanged(uint32_t id, const spa_pod *param)
    {
        if (id != SPA_PARAM_Format || !param)
            return;
        uint32_t mediaType = 0;
        uint32_t mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
            || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw info {};
        if (spa_format_video_raw_parse(param, &info) < 0)
            return;
        // Only the linear layout is read; any other modifier is tiles or
        // compression the CPU cannot take for rows.
        if ((info.flags & SPA_VIDEO_FLAG_MODIFIER) && info.modifier != 0) {
            finish(unreadableFormat());
            pw_stream_set_error(stream, -EINVAL, "unreadable modifier");
            return;
        }
        format = info;
        hasFormat = true;
        {
            std::lock_guard lock(mutex);
            size = QSize(int(info.size.width), int(info.size.height));
        }

        std::array<uint8_t, 1024> storage {};
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
        std::array<const spa_pod *, 3> params {};
        spa_pod_frame frame {};
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        const int dataTypes = (info.flags & SPA_VIDEO_FLAG_MODIFIER) ? (1 << SPA_DATA_DmaBuf)
                                                                     : (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr);
        spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(dataTypes), 0);
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
        spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
            SPA_POD_Int(int(sizeof(spa_meta_header))), 0);
        params[1] = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
        const auto cursorMetaSize
            = [](int side) { return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4; };
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
        spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(64), cursorMetaSize(1), cursorMetaSize(512)), 0);
        params[2] = static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame));
        const uint32_t count = options.drawsCursor ? 3 : 2;
        pw_stream_update_params(stream, params.data(), count);
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

    void onAddBuffer(pw_buffer *buffer)
    {
        if (buffer->buffer->n_datas < 1)
            return;
        const spa_data &data = buffer->buffer->datas[0];
        if (data.type != SPA_DATA_DmaBuf || data.data)
            return;
        auto mapping = std::make_unique<DmaBufMapping>();
        mapping->size = size_t(data.maxsize) + data.mapoffset;
        mapping->address = mmap(nullptr, mapping->size, PROT_READ, MAP_SHARED, int(data.fd), 0);
        if (mapping->address == MAP_FAILED)
            mapping->error = errno;
        buffer->user_data = mapping.release();
    }

    static void onRemoveBuffer(pw_buffer *buffer)
    {
        std::unique_ptr<DmaBufMapping> mapping(static_cast<DmaBufMapping *>(buffer->user_data));
        buffer->user_data = nullptr;
        if (mapping && mapping->address != MAP_FAILED)
            munmap(mapping->address, mapping->size);
    }

    // A picture that cannot be read is dropped; too many in a row end the
    // stream.
    void dropUnreadable()
    {
        if (++unreadable >= unreadableLimit)
            finish(unreadableFrames());
    }

    void take(pw_buffer *pwBuffer)
    {
        spa_buffer *buffer = pwBuffer->buffer;
        const int64_t arrival = steadyNanoseconds();
        if (!hasFormat || buffer->n_datas < 1)
            return;
        const auto *header = static_cast<const spa_meta_header *>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
            return;
        const bool cursorChanged = options.drawsCursor && readCursor(buffer);
        const spa_data &data = buffer->datas[0];
        // Cursor-only updates come with no picture: the last one is drawn again.
        if (!data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            if (cursorChanged && !clean.isNull()) {
                const int index = freeImage(clean.size());
                std::memcpy(pool[size_t(index)].bits(), clean.constBits(), size_t(clean.sizeInBytes()));
                drawCursor(pool[size_t(index)]);
                publish(index, arrival);
            }
            return;
        }

        const QSize frameSize(int(format.size.width), int(format.size.height));
        const int rowBytes = frameSize.width() * 4;
        const int stride = data.chunk->stride != 0 ? data.chunk->stride : rowBytes;
        const uint32_t offset = data.maxsize ? data.chunk->offset % data.maxsize : 0;
        // The last row need not be padded to the stride.
        if (stride < rowBytes || frameSize.isEmpty()
            || uint64_t(offset) + uint64_t(stride) * uint64_t(frameSize.height() - 1) + uint64_t(rowBytes)
                > data.maxsize) {
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
            if (!mapping || mapping->address == MAP_FAILED) {
                finish(cannotMap(mapping ? mapping->error : EINVAL));
                return;
            }
            base = static_cast<const uint8_t *>(mapping->address) + data.mapoffset;
        } else {
            dropUnreadable();
            return;
        }
        if (dmaBuf && !syncDmaBuf(int(data.fd), DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ)) {
            dropUnreadable();
            return;
        }
        const uint8_t *pixels = base + offset;

        const QImage::Format sourceFormat
            = (format.format == SPA_VIDEO_FORMAT_RGBx || format.format == SPA_VIDEO_FORMAT_RGBA)
            ? QImage::Format_RGBX8888
            : QImage::Format_RGB32;
        const QImage source(pixels, frameSize.width(), frameSize.height(), stride, sourceFormat);
        const QRect from = sourceRect(options, frameSize);
        const QSize outSize = outputSize(options, frameSize);

        const int index = freeImage(outSize);
        QImage &out = pool[size_t(index)];
        if (options.drawsCursor) {
            // The picture without the pointer is kept for pointer-only updates.
            if (clean.size() != outSize)
                clean = QImage(outSize, QImage::Format_RGB32);
            copy(source, from, clean);
            cleanFrom = from;
            std::memcpy(out.bits(), clean.constBits(), size_t(clean.sizeInBytes()));
            drawCursor(out);
        } else {
            copy(source, from, out);
        }

        if (dmaBuf)
            syncDmaBuf(int(data.fd), DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ);
        unreadable = 0;

        // Presentation times are on the monotonic clock when the producer
        // is a compositor; anything far from now is some other clock.
        int64_t time = arrival;
        if (header && header->pts > 0 && std::abs(int64_t(header->pts) - arrival) < 500000000)
            time = int64_t(header->pts);
        publish(index, time);
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

    // Takes the pointer's place and picture from the buffer's metadata;
    // whether there was any news.
    bool readCursor(spa_buffer *buffer)
    {
        const spa_meta *meta = spa_buffer_find_meta(buffer, SPA_META_Cursor);
        if (!meta || meta->size < sizeof(spa_meta_cursor))
            return false;
        const auto *cursor = static_cast<const spa_meta_cursor *>(meta->data);
        if (!spa_meta_cursor_is_valid(cursor))
            return false;
        cursorPosition = QPoint(cursor->position.x, cursor->position.y);
        const uint64_t bitmapAt = cursor->bitmap_offset;
        if (bitmapAt < sizeof(spa_meta_cursor) || bitmapAt + sizeof(spa_meta_bitmap) > meta->size)
            return true;
        const auto *bitmap = SPA_PTROFF(cursor, bitmapAt, const spa_meta_bitmap);
        if (bitmap->format == 0)
            return true;
        cursorHotspot = QPoint(cursor->hotspot.x, cursor->hotspot.y);
        const int width = int(bitmap->size.width);
        const int height = int(bitmap->size.height);
        const uint64_t end = bitmapAt + bitmap->offset + uint64_t(std::max(0, bitmap->stride)) * uint64_t(height);
        if (bitmap->offset < sizeof(spa_meta_bitmap) || width <= 0 || height <= 0 || bitmap->stride < width * 4
            || end > meta->size) {
            cursorImage = QImage(); // hidden
            return true;
        }
        QImage::Format bitmapFormat = QImage::Format_Invalid;
        if (bitmap->format == SPA_VIDEO_FORMAT_BGRA)
            bitmapFormat = QImage::Format_ARGB32;
        else if (bitmap->format == SPA_VIDEO_FORMAT_RGBA)
            bitmapFormat = QImage::Format_RGBA8888;
        if (bitmapFormat == QImage::Format_Invalid)
            return true;
        const auto *pixels = SPA_PTROFF(bitmap, bitmap->offset, const uchar);
        cursorImage = QImage(pixels, width, height, bitmap->stride, bitmapFormat)
                          .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        return true;
    }

    void drawCursor(QImage &out) const
    {
        if (cursorImage.isNull() || cleanFrom.isEmpty())
            return;
        // The pointer's place and picture are in the frame's pixels, as
        // CLEANFROM is; OUT may be of another density.
        const double sx = double(out.width()) / cleanFrom.width();
        const double sy = double(out.height()) / cleanFrom.height();
        const QPoint tip = cursorPosition - cursorHotspot - cleanFrom.topLeft();
        QPainter painter(&out);
        painter.drawImage(
            QRectF(tip.x() * sx, tip.y() * sy, cursorImage.width() * sx, cursorImage.height() * sy), cursorImage);
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

    static void copy(const QImage &source, const QRect &from, QImage &out)
    {
        if (from.size() == out.size() && QRect(QPoint(0, 0), source.size()).contains(from)) {
            const int bytes = from.width() * 4;
            if (source.format() == QImage::Format_RGB32) {
                for (int y = 0; y < from.height(); ++y)
                    std::memcpy(out.scanLine(y), source.constScanLine(from.y() + y) + from.x() * 4, size_t(bytes));
            } else {
                // RGBx to 0xffRRGGBB.
                for (int y = 0; y < from.height(); ++y) {
                    const uint8_t *in = source.constScanLine(from.y() + y) + from.x() * 4;
                    auto *line = reinterpret_cast<uint32_t *>(out.scanLine(y));
                    for (int x = 0; x < from.width(); ++x, in += 4)
                        line[x] = 0xff000000u | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
                }
            }
            return;
        }
        // A scaled monitor, or an area partly off the cast picture: black
        // where the picture has nothing.
        out.fill(Qt::black);
        QPainter painter(&out);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), out.size()), source, from);
    }
};

namespace {

void onCoreError(void *data, uint32_t id, int /*seq*/, int res, const char * /*message*/)
{
    auto *state = static_cast<PipeWireStream::State *>(data);
    if (id == PW_ID_CORE && res == -EPIPE)
        state->finish(connectionLost());
}

void onGlobalRemove(void *data, uint32_t id)
{
    auto *state = static_cast<PipeWireStream::State *>(data);
    if (id == state->options.node)
        state->finish(ended());
}

void onGlobal(void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *props)
{
    static_cast<PipeWireStream::State *>(data)->onGlobal(id, type, props);
}

void onCoreDone(void *data, uint32_t id, int seq)
{
    if (id == PW_ID_CORE)
        static_cast<PipeWireStream::State *>(data)->onCoreDone(seq);
}

void onPortParam(void *data, int, uint32_t id, uint32_t, uint32_t, const spa_pod *param)
{
    auto *watch = static_cast<PipeWireStream::State::PortWatch *>(data);
    if (id == SPA_PARAM_EnumFormat && param)
        watch->state->onPortFormat(*watch, param);
}

void onAddBuffer(void *data, pw_buffer *buffer)
{
    static_cast<PipeWireStream::State *>(data)->onAddBuffer(buffer);
}

void onRemoveBuffer(void *, pw_buffer *buffer)
{
    PipeWireStream::State::onRemoveBuffer(buffer);
}

void onStreamState(void *data, pw_stream_state, pw_stream_state state, const char *error)
{
    static_cast<PipeWireStream::State *>(data)->onStateChanged(state, error);
}

void onParamChanged(void *data, uint32_t id, const spa_pod *param)
{
    static_cast<PipeWireStream::State *>(data)->onParamChanged(id, param);
}

void onProcess(void *data)
{
    static_cast<PipeWireStream::State *>(data)->onProcess();
}

pw_core_events coreEvents()
{
    pw_core_events events {};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    events.done = onCoreDone;
    return events;
}

pw_registry_events registryEvents()
{
    pw_registry_events events {};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = onGlobal;
    events.global_remove = onGlobalRemove;
    return events;
}

pw_stream_events streamEvents()
{
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStreamState;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    events.add_buffer = onAddBuffer;
    events.remove_buffer = onRemoveBuffer;
    return events;
}

pw_port_events portEvents()
{
    pw_port_events events {};
    events.version = PW_VERSION_PORT_EVENTS;
    events.param = onPortParam;
    return events;
}

const pw_core_events coreEventTable = coreEvents();
const pw_registry_events registryEventTable = registryEvents();
const pw_stream_events streamEventTable = streamEvents();
const pw_port_events portEventTable = portEvents();

} // namespace

void PipeWireStream::State::addPortListener(PortWatch &watch)
{
    pw_proxy_add_object_listener(watch.proxy, &watch.listener, &portEventTable, &watch);
}

PipeWireStream::PipeWireStream(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}

Result<std::unique_ptr<PipeWireStream>, PlatformError> PipeWireStream::open(const Options &options)
{
    using R = Result<std::unique_ptr<PipeWireStream>, PlatformError>;
    static std::once_flag initialized;
    std::call_once(initialized, [] { pw_init(nullptr, nullptr); });

    auto state = std::make_unique<State>();
    State &s = *state;
    s.options = options;
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
    pw_core_add_listener(s.core, &s.coreListener, &coreEventTable, &s);
    // Shared memory first; a DMA-BUF only in the linear layout the CPU can
    // read, for producers that have nothing else.
    spa_pod_builder builder {};
    spa_pod_builder_init(&builder, s.formatStorage.data(), uint32_t(s.formatStorage.size()));
    s.formats = {enumFormat(builder, false), enumFormat(builder, true)};
    s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(s.registry, &s.registryListener, &registryEventTable, &s);
    s.stream = pw_stream_new(s.core, "Velunta",
        pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s.stream) {
        pw_thread_loop_unlock(s.loop);
        return R::failure(cannotConnect);
    }
    pw_stream_add_listener(s.stream, &s.streamListener, &streamEventTable, &s);

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
    for (const auto &watch : s.ports) {
        spa_hook_remove(&watch->listener);
        pw_proxy_destroy(watch->proxy);
    }
    if (s.registry) {
        spa_hook_remove(&s.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(s.registry));
    }
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
