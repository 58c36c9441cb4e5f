// The formats a PipeWire stream offers, takes from a producer's port, and
// settles on.
#include "platform/wayland/PipeWireFormats.h"

#include <spa/param/audio/format-utils.h>
#include <spa/param/video/format-utils.h>

#include <array>
#include <gtest/gtest.h>
#include <optional>

namespace {

// A builder with room of its own.
struct Pods {
    Pods() { spa_pod_builder_init(&builder, storage.data(), uint32_t(storage.size())); }
    std::array<uint8_t, 8192> storage {};
    spa_pod_builder builder {};
};

const spa_pod *video(Pods &pods, spa_video_format format, std::optional<uint64_t> modifier = std::nullopt)
{
    spa_video_info_raw info {};
    info.format = format;
    info.size = {640, 480};
    info.framerate = {30, 1};
    if (modifier) {
        info.flags = SPA_VIDEO_FLAG_MODIFIER;
        info.modifier = *modifier;
    }
    return spa_format_video_raw_build(&pods.builder, SPA_PARAM_EnumFormat, &info);
}

const spa_pod *audio(Pods &pods)
{
    spa_audio_info_raw info {};
    info.format = SPA_AUDIO_FORMAT_S16;
    info.rate = 48000;
    info.channels = 2;
    return spa_format_audio_raw_build(&pods.builder, SPA_PARAM_EnumFormat, &info);
}

TEST(PipeWireFormats, APortsOfferIsReadableWhenItHasOneOfOurRawFormats)
{
    Pods pods;
    const auto ours = PipeWireFormats::offered(pods.builder);
    ASSERT_NE(ours[0], nullptr);
    ASSERT_NE(ours[1], nullptr);
    EXPECT_TRUE(PipeWireFormats::readable(video(pods, SPA_VIDEO_FORMAT_BGRx), ours));
    EXPECT_TRUE(PipeWireFormats::readable(video(pods, SPA_VIDEO_FORMAT_RGBA), ours));
    EXPECT_TRUE(PipeWireFormats::readable(video(pods, SPA_VIDEO_FORMAT_RGBx, 0), ours));
    EXPECT_FALSE(PipeWireFormats::readable(video(pods, SPA_VIDEO_FORMAT_NV12), ours));
    EXPECT_FALSE(PipeWireFormats::readable(video(pods, SPA_VIDEO_FORMAT_xRGB), ours));
    EXPECT_FALSE(PipeWireFormats::readable(audio(pods), ours));
}

TEST(PipeWireFormats, ASettledFormatIsReadWhenItIsInSharedMemoryOrLinear)
{
    Pods pods;
    const auto shared = PipeWireFormats::videoFormat(video(pods, SPA_VIDEO_FORMAT_RGBx));
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->format, SPA_VIDEO_FORMAT_RGBx);
    EXPECT_EQ(shared->size.width, 640u);
    EXPECT_TRUE(PipeWireFormats::linear(*shared));

    const auto linear = PipeWireFormats::videoFormat(video(pods, SPA_VIDEO_FORMAT_BGRx, 0));
    ASSERT_TRUE(linear);
    EXPECT_TRUE(PipeWireFormats::linear(*linear));
    // Intel's X tiling.
    const auto tiled = PipeWireFormats::videoFormat(video(pods, SPA_VIDEO_FORMAT_BGRx, (uint64_t(1) << 56) | 1));
    ASSERT_TRUE(tiled);
    EXPECT_FALSE(PipeWireFormats::linear(*tiled));

    EXPECT_FALSE(PipeWireFormats::videoFormat(audio(pods)));
    EXPECT_FALSE(PipeWireFormats::videoFormat(nullptr));
}

} // namespace
