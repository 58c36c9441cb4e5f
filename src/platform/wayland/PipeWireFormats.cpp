#include "platform/wayland/PipeWireFormats.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/filter.h>

#include <cerrno>

namespace PipeWireFormats {

namespace {

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

std::array<const spa_pod *, 2> offered(spa_pod_builder &builder)
{
    return {enumFormat(builder, false), enumFormat(builder, true)};
}

bool readable(const spa_pod *offer, std::span<const spa_pod *const> ours)
{
    for (const spa_pod *format : ours) {
        std::array<uint8_t, 4096> storage {};
        spa_pod_builder builder {};
        spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size()));
        spa_pod *common = nullptr;
        // Out of room says nothing about the format: PipeWire decides.
        const int res = spa_pod_filter(&builder, &common, offer, format);
        if (res >= 0 || res == -ENOSPC)
            return true;
    }
    return false;
}

std::optional<spa_video_info_raw> videoFormat(const spa_pod *param)
{
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return std::nullopt;
    spa_video_info_raw info {};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return std::nullopt;
    return info;
}

bool linear(const spa_video_info_raw &format)
{
    return !(format.flags & SPA_VIDEO_FLAG_MODIFIER) || format.modifier == 0;
}

std::vector<const spa_pod *> bufferParams(spa_pod_builder &builder, const spa_video_info_raw &format, bool cursor)
{
    std::vector<const spa_pod *> params;
    spa_pod_frame frame {};
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    // A modifier was only agreed for a DMA-BUF.
    const int dataTypes = (format.flags & SPA_VIDEO_FLAG_MODIFIER) ? (1 << SPA_DATA_DmaBuf)
                                                                   : (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr);
    spa_pod_builder_add(&builder, SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(dataTypes), 0);
    params.push_back(static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame)));
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(int(sizeof(spa_meta_header))), 0);
    params.push_back(static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame)));
    if (!cursor)
        return params;
    const auto cursorMetaSize
        = [](int side) { return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4; };
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
    spa_pod_builder_add(&builder, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(64), cursorMetaSize(1), cursorMetaSize(512)), 0);
    params.push_back(static_cast<const spa_pod *>(spa_pod_builder_pop(&builder, &frame)));
    return params;
}

} // namespace PipeWireFormats
