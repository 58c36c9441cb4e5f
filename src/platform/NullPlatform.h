#pragma once

#include "platform/AudioSource.h"
#include "platform/ClipboardProbe.h"
#include "platform/FrameSource.h"
#include "platform/HotKeySource.h"
#include "platform/ScreenSource.h"

// The fallback when no supported window system is there (offscreen runs, or
// a Wayland session until its backend exists): no displays, no screen access,
// no hot keys. Nothing here pretends to capture.
class NullScreenSource : public ScreenSource {
public:
    std::vector<DisplayInfo> displays() const override { return {}; }
    QPoint pointerPosition() const override { return {}; }
    bool screenCaptureAllowed() const override { return false; }
    QCoro::Task<Result<QImage, PlatformError>> grab(GrabRequest request) override;
};

class NullHotKeys : public HotKeySource {
    Q_OBJECT
public:
    using HotKeySource::HotKeySource;
    QList<int> registerShortcuts(const QList<QKeyCombination> &combinations) override;

private:
    int m_count = 0;
};

class NullFrameSource : public FrameSource {
public:
    Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) override;
};

class NullAudioSource : public AudioSource {
public:
    Result<std::unique_ptr<AudioStream>, PlatformError> open(SoundSource source, const QString &device, int sampleRate,
        int channels, OnChunk onChunk, OnFailure onFailure) override;
};

class NullClipboardProbe : public ClipboardProbe {
public:
    Result<QList<QUrl>, QString> roundTrip(const QList<QUrl> &urls, std::chrono::milliseconds timeout) override;
};
