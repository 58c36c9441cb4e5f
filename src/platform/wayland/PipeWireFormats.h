#pragma once

#include <spa/param/video/raw.h>
#include <spa/pod/builder.h>

#include <array>
#include <optional>
#include <span>
#include <vector>

// What a stream and its producer agree on, as SPA pods: the formats we read,
// whether a producer's offer has one of them, the format a negotiation
// settled on and the buffers we then ask for. Pure: the pods are built into
// the builder (and its storage) the caller passes, nothing else is kept.
namespace PipeWireFormats {

// The raw video formats we read (BGRx, RGBx, BGRA, RGBA), in order of
// preference: in shared memory, then as a DMA-BUF in the linear layout
// (modifier 0, DRM_FORMAT_MOD_LINEAR) for producers that have nothing else.
std::array<const spa_pod *, 2> offered(spa_pod_builder &builder);

// Whether OFFER, one EnumFormat of a producer's port, has something in
// common with one of OURS.
bool readable(const spa_pod *offer, std::span<const spa_pod *const> ours);

// The raw video format a Format param settled on; none for any other kind
// of format.
std::optional<spa_video_info_raw> videoFormat(const spa_pod *param);

// Whether the CPU can take the format's pictures for rows: shared memory, or
// a DMA-BUF in the linear layout. Any other modifier is tiles or compression.
bool linear(const spa_video_info_raw &format);

// The params asking for buffers of FORMAT: their count and memory, the
// header metadata and, with CURSOR, the pointer's.
std::vector<const spa_pod *> bufferParams(spa_pod_builder &builder, const spa_video_info_raw &format, bool cursor);

} // namespace PipeWireFormats
