#include "recording/SegmentWriter.h"

#include "platform/media/SegmentEncoder.h"
#include "recording/AudioMix.h"

#include <QCoroFuture>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

extern "C" {
#include <libavutil/error.h>
}

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace AudioPlacement {

Step place(int64_t position, int64_t startNanoseconds, int64_t frames, int rate, bool anchored)
{
    // Floor division, so that a start a fraction of a sample early is not a sample late.
    // Fits in 64 bits for segments of up to two days at 48 kHz.
    const int64_t scaled = startNanoseconds * rate;
    int64_t actual = scaled / 1000000000;
    if (scaled < 0 && scaled % 1000000000 != 0)
        --actual;
    const int64_t drift = actual - position;
    const int64_t limit = driftLimitNanoseconds * rate / 1000000000;
    if (anchored && drift <= limit && drift >= -limit)
        return {};
    Step step;
    if (drift > 0)
        step.silence = drift;
    else
        step.skip = std::min(-drift, frames);
    return step;
}

} // namespace AudioPlacement

namespace AudioHandOff {

bool wakesWriter(int64_t queuedFrames, int rate)
{
    return queuedFrames * 1000 >= int64_t(rate) * wakeAfter.count();
}

} // namespace AudioHandOff

namespace {

constexpr int sampleRate = 48000;
constexpr int channels = 2;
// How far the mix may trail the clock waiting for a source that has gone
// quiet without going away; past this the source counts as silent there, so
// that the other source's samples do not pile up in memory. Beyond the 2 s
// bursts a null sink can deliver.
constexpr int64_t mixSlackFrames = int64_t(sampleRate) * 5;

int64_t framesAt(int64_t nanoseconds)
{
    // Rounded as the encoder rounds a segment's end.
    return (nanoseconds * sampleRate + 500000000) / 1000000000;
}

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t fragmentNanoseconds = 1'000'000'000;
constexpr int64_t pictureReadNanoseconds = 200'000'000;

bool isOutOfSpace(const MediaError &error)
{
    return error.code == AVERROR(ENOSPC) || error.code == AVERROR(EDQUOT);
}

PlatformError fromMedia(const MediaError &error)
{
    if (isOutOfSpace(error))
        return {QStringLiteral("O disco está cheio.")};
    return {QStringLiteral("Não foi possível gravar o vídeo: %1").arg(error.description)};
}

} // namespace

struct SegmentWriter::Private {
    Private(FrameSource &frameSource, AudioSource &audioSource)
        : frameSource(frameSource)
        , audioSource(audioSource)
    {
    }

    SegmentSettings settings;
    SegmentNotices notices;
    FrameSource &frameSource;
    AudioSource &audioSource;

    std::unique_ptr<FrameStream> frames;
    std::unique_ptr<SegmentEncoder> encoder;
    std::unique_ptr<QFile> syncHandle;
    std::vector<std::unique_ptr<AudioStream>> audio; // one per source that opened
    std::vector<AudioLoss> droppedAudio; // sources whose tracks the file leaves out
    bool usesDefaultMicrophone = false;
    // With two sources: their sum, written as the file's first audio track
    // ahead of the sources' own tracks. Writer thread.
    std::optional<AudioMix> mix;
    std::vector<float> mixed;

    struct Picture {
        SegmentEncoder::Picture picture;
        int64_t frameIndex = 0;
    };
    struct QueuedAudio {
        int track = 0;
        std::vector<float> samples; // empty with frames > 0: a hole
        int64_t frames = 0;
        int64_t captureNanoseconds = 0;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<NativeWindowId> excluded;
    std::deque<Picture> pictures;
    std::deque<QueuedAudio> chunks;
    int64_t queuedAudioFrames = 0; // in chunks, all tracks together
    bool captureEnded = false;
    int64_t endNanoseconds = 0;
    std::vector<int> silentTracks; // tracks no more sound will come for
    std::atomic<bool> stopRequested {false};
    std::atomic<int64_t> start {-1}; // steady clock time of the first picture

    std::atomic<int64_t> captured {0};
    std::atomic<int64_t> dropped {0};
    std::atomic<int64_t> encoded {0};

    std::thread captureThread;
    std::thread writerThread;
    std::mutex joinMutex;

    void requestStop()
    {
        {
            std::lock_guard lock(mutex);
            stopRequested = true;
        }
        wake.notify_all();
        if (frames)
            frames->interrupt();
    }

    void joinCapture()
    {
        std::lock_guard lock(joinMutex);
        if (captureThread.joinable())
            captureThread.join();
    }

    void joinAll()
    {
        joinCapture();
        std::lock_guard lock(joinMutex);
        if (writerThread.joinable())
            writerThread.join();
    }

    Result<Done, PlatformError> open()
    {
        using R = Result<Done, PlatformError>;
        auto opened = frameSource.open({settings.display, settings.pixels, settings.showsCursor});
        if (!opened)
            return R::failure(opened.error());
        frames = std::move(*opened);

        // Sound first: which sources open decides the file's tracks.
        std::vector<SoundSource> requested;
        if (settings.capturesSystemAudio)
            requested.push_back(SoundSource::systemAudio);
        if (settings.capturesMicrophone)
            requested.push_back(SoundSource::microphone);
        int tracks = 0;
        for (const SoundSource source : requested) {
            const int track = tracks;
            // One stream per source, so that one failing leaves the other alone.
            const QString device = source == SoundSource::microphone ? settings.microphoneDevice : QString();
            auto listening = audioSource.open(
                source, device, sampleRate, channels,
                [this, track](const AudioChunk &chunk) { takeAudio(track, chunk); },
                [this, track, source](PlatformError error) {
                    loseAudio(track, {source, std::move(error)});
                });
            if (listening) {
                usesDefaultMicrophone = usesDefaultMicrophone || (*listening)->usesDefaultInstead();
                audio.push_back(std::move(*listening));
            } else if (!settings.keepsMissingAudioAsSilence) {
                droppedAudio.push_back({source, listening.error()});
                continue;
            } else {
                {
                    // A source opened before may be lost already, on its own thread.
                    std::lock_guard lock(mutex);
                    silentTracks.push_back(track);
                }
                if (notices.audioLost)
                    notices.audioLost({source, listening.error()});
            }
            ++tracks;
        }

        SegmentEncoder::Settings encoding;
        encoding.path = settings.path;
        encoding.size = settings.pixels.size();
        encoding.codec = settings.usesHevc ? SegmentEncoder::VideoCodec::hevc : SegmentEncoder::VideoCodec::h264;
        encoding.maximumFrameRate = settings.maximumFrameRate;
        if (tracks == 2) {
            // Browsers, chat apps and most tools play only the first audio
            // track: it is the sum, so that the narration is never lost; the
            // sources follow for editing.
            mix.emplace(2, channels, sampleRate);
            encoding.audioTracks = {{sampleRate, channels, QStringLiteral("Sistema + microfone"), true},
                {sampleRate, channels, QStringLiteral("Sistema"), false},
                {sampleRate, channels, QStringLiteral("Microfone"), false}};
        } else {
            encoding.audioTracks.assign(size_t(tracks), {sampleRate, channels, QString(), false});
        }
        auto encoding_ = SegmentEncoder::open(encoding);
        if (!encoding_)
            return R::failure(fromMedia(encoding_.error()));
        encoder = std::move(*encoding_);
        // A handle only to push the file's fragments to the disk itself: a
        // power cut takes what is still in the page cache.
        syncHandle = std::make_unique<QFile>(settings.path);
        if (!syncHandle->open(QIODevice::ReadOnly))
            syncHandle.reset();
        captureThread = std::thread([this] { runCapture(); });
        writerThread = std::thread([this] { runWriter(); });
        return Done {};
    }

    // On the sound server's thread.
    void takeAudio(int track, const AudioChunk &chunk)
    {
        QueuedAudio copy;
        copy.track = track;
        copy.frames = chunk.frames;
        copy.captureNanoseconds = chunk.captureNanoseconds;
        if (chunk.samples)
            copy.samples.assign(chunk.samples, chunk.samples + chunk.frames * channels);
        bool wakesWriter = false;
        {
            std::lock_guard lock(mutex);
            if (captureEnded)
                return;
            queuedAudioFrames += copy.frames;
            chunks.push_back(std::move(copy));
            wakesWriter = AudioHandOff::wakesWriter(queuedAudioFrames, sampleRate);
        }
        // The writer comes by often enough on its own: waking it for every
        // fragment the sound server sends (50 a second) was most of what a
        // still screen cost it.
        if (wakesWriter)
            wake.notify_all();
    }

    // On the sound server's thread, after its last chunk: the track goes on
    // as silence and the picture is not affected.
    void loseAudio(int track, AudioLoss loss)
    {
        {
            std::lock_guard lock(mutex);
            if (captureEnded)
                return;
            silentTracks.push_back(track);
        }
        wake.notify_all();
        if (notices.audioLost)
            notices.audioLost(std::move(loss));
    }

    // The encoder's track of source track TRACK.
    int encoderTrack(int track) const { return mix ? track + 1 : track; }
    int64_t sourcePosition(int track) const { return encoder->audioPosition(encoderTrack(track)); }

    // FRAMES samples (null: silence) for source track TRACK, and to the mix
    // whatever the mix can now make. Writer thread.
    std::optional<MediaError> writeSource(int track, const float *samples, int64_t frames)
    {
        while (frames > 0) {
            // A second at a time, so that a long gap is never held whole.
            const int64_t now = std::min<int64_t>(frames, sampleRate);
            const int64_t at = sourcePosition(track);
            auto added = samples ? encoder->addAudio(encoderTrack(track), samples, now)
                                 : encoder->addSilence(encoderTrack(track), now);
            if (!added)
                return added.error();
            if (mix) {
                mix->add(track, at, samples, now);
                if (auto failure = writeMix())
                    return failure;
            }
            frames -= now;
            if (samples)
                samples += now * channels;
        }
        return std::nullopt;
    }

    std::optional<MediaError> writeMix()
    {
        mixed.clear();
        const int64_t frames = mix->take(mixed);
        if (frames <= 0)
            return std::nullopt;
        if (auto added = encoder->addAudio(0, mixed.data(), frames); !added)
            return added.error();
        return std::nullopt;
    }

    // Every source track, and the mix, brought level up to END (in samples)
    // or to the longest of them, so that the mix ends with its sources.
    std::optional<MediaError> levelAudioTracks(int64_t end)
    {
        if (!mix)
            return std::nullopt;
        for (int track = 0; track < 2; ++track)
            end = std::max(end, sourcePosition(track));
        for (int track = 0; track < 2; ++track) {
            if (auto failure = writeSource(track, nullptr, end - sourcePosition(track)))
                return failure;
        }
        mix->fillTo(end);
        return writeMix();
    }

    void runCapture()
    {
        const int64_t rate = settings.maximumFrameRate;
        int64_t lastIndex = -1;
        bool retried = false;
        std::optional<PlatformError> lost;
        while (!stopRequested) {
            // Only a safety net: a stop interrupts the wait, and a still
            // screen then wakes this thread once a second, not four times.
            const FrameStream::Change change = frames->waitForChange(std::chrono::milliseconds(1000));
            if (change == FrameStream::Change::displayLost) {
                lost = frames->lossReason();
                break;
            }
            if (change != FrameStream::Change::changed)
                continue;
            int64_t index = 0;
            const int64_t t0 = start;
            if (t0 >= 0) {
                // Slots are t0 + k / rate: a rounded period would drift. A
                // settled change is read at once into its nearest slot; only
                // a change that comes sooner than the rate allows waits, to
                // within half a slot of the next free one.
                const int64_t elapsed = steadyNanoseconds() - t0;
                index = std::max(lastIndex + 1, (elapsed * rate + 500000000) / 1000000000);
                const auto deadline = std::chrono::steady_clock::time_point(
                    std::chrono::nanoseconds(t0 + (2 * index - 1) * 1000000000 / (2 * rate)));
                std::unique_lock lock(mutex);
                wake.wait_until(lock, deadline, [this] { return stopRequested.load(); });
                if (stopRequested)
                    break;
            }
            std::vector<NativeWindowId> leftOut;
            {
                std::lock_guard lock(mutex);
                leftOut = excluded;
            }
            auto frame = frames->readFrame(leftOut);
            if (!frame) {
                lost = frame.error();
                break;
            }
            // A picture that may mix two updates is read again once the
            // second has settled; once only, so that content that never
            // stops changing still gets pictures.
            if (frame->drawnDuringRead && !retried) {
                retried = true;
                continue;
            }
            retried = false;
            // The first picture's read fixes the segment's clock.
            if (t0 < 0)
                start = frame->captureNanoseconds;
            auto picture = SegmentEncoder::Picture::fromImage(frame->image);
            if (!picture) {
                lost = fromMedia(picture.error());
                break;
            }
            ++captured;
            lastIndex = index;
            {
                std::lock_guard lock(mutex);
                if (pictures.size() >= size_t(std::max(1, settings.queueDepth)) && index > 0) {
                    ++dropped;
                    continue;
                }
                pictures.push_back({std::move(*picture), index});
            }
            wake.notify_all();
        }
        const int64_t t0 = start;
        {
            std::lock_guard lock(mutex);
            captureEnded = true;
            endNanoseconds = t0 >= 0 ? steadyNanoseconds() - t0 : 0;
        }
        wake.notify_all();
        if (lost && notices.stopped)
            notices.stopped(*lost);
    }

    void runWriter()
    {
        std::vector<bool> anchored(encoder ? 2 : 0, false);
        std::deque<QueuedAudio> early; // audio before the first picture fixed the clock
        std::optional<MediaError> failure;
        bool ended = false;
        int64_t end = 0;
        std::vector<int> silent;
        int64_t lastFlush = 0;
        while (!ended && !failure) {
            std::deque<Picture> takenPictures;
            std::deque<QueuedAudio> takenChunks;
            {
                std::unique_lock lock(mutex);
                // Silent tracks are padded as time passes, also on a still screen.
                // Also wakes up on a still screen to close a fragment in time.
                const auto ready = [this] {
                    return !pictures.empty() || AudioHandOff::wakesWriter(queuedAudioFrames, sampleRate)
                        || captureEnded;
                };
                wake.wait_for(lock, AudioHandOff::writerPeriod, ready);
                takenPictures.swap(pictures);
                takenChunks.swap(chunks);
                queuedAudioFrames = 0;
                // Taken with the chunks: a lost track's last chunks are among them.
                silent = silentTracks;
                ended = captureEnded;
                end = endNanoseconds;
            }
            for (Picture &picture : takenPictures) {
                if (auto added = encoder->addPicture(std::move(picture.picture), picture.frameIndex); !added) {
                    failure = added.error();
                    break;
                }
                ++encoded;
            }
            for (QueuedAudio &chunk : takenChunks)
                early.push_back(std::move(chunk));
            const int64_t t0 = start;
            while (!failure && t0 >= 0 && !early.empty()) {
                QueuedAudio chunk = std::move(early.front());
                early.pop_front();
                if (size_t(chunk.track) >= anchored.size())
                    anchored.resize(size_t(chunk.track) + 1, false);
                const auto step = AudioPlacement::place(sourcePosition(chunk.track), chunk.captureNanoseconds - t0,
                    chunk.frames, sampleRate, anchored[size_t(chunk.track)]);
                if (step.silence > 0)
                    failure = writeSource(chunk.track, nullptr, step.silence);
                const int64_t kept = chunk.frames - step.skip;
                if (!failure && kept > 0) {
                    const float *samples
                        = chunk.samples.empty() ? nullptr : chunk.samples.data() + step.skip * channels;
                    failure = writeSource(chunk.track, samples, kept);
                    anchored[size_t(chunk.track)] = true;
                }
            }
            // Keeps a silent track level with the clock, so that the end of the
            // segment has little to pad (and nothing piles up meanwhile).
            if (!failure && !ended && t0 >= 0) {
                const int64_t now = (steadyNanoseconds() - t0) * sampleRate / 1000000000;
                for (const int track : silent) {
                    const int64_t missing = now - sourcePosition(track);
                    if (missing <= 0)
                        continue;
                    if ((failure = writeSource(track, nullptr, missing)))
                        break;
                }
                if (!failure && mix && now - mix->position() > mixSlackFrames) {
                    mix->fillTo(now - mixSlackFrames);
                    failure = writeMix();
                }
            }
            // What is written so far goes to the file about every second,
            // as a fragment that a crash cannot take back.
            if (!failure && !ended && t0 >= 0) {
                const int64_t now = steadyNanoseconds() - t0;
                if (now - lastFlush >= fragmentNanoseconds) {
                    // A picture being read right now may still belong before NOW.
                    if (auto flushed = encoder->flush(now - pictureReadNanoseconds); !flushed)
                        failure = flushed.error();
                    else if (syncHandle)
                        ::fdatasync(syncHandle->handle());
                    lastFlush = now;
                }
            }
        }
        audio.clear();
        if (!failure)
            failure = levelAudioTracks(framesAt(end));
        if (!failure) {
            if (auto finished = encoder->finish(end); !finished)
                failure = finished.error();
        }
        if (failure) {
            requestStop();
            if (isOutOfSpace(*failure) && notices.outOfSpace)
                notices.outOfSpace();
            if (notices.failed)
                notices.failed(fromMedia(*failure));
            return;
        }
        if (notices.finished)
            notices.finished();
    }
};

SegmentWriter::SegmentWriter(SegmentSettings settings, SegmentNotices notices, FrameSource &frames, AudioSource &audio)
    : d(std::make_shared<Private>(frames, audio))
{
    d->settings = std::move(settings);
    d->notices = std::move(notices);
    d->excluded = d->settings.excludedWindows;
}

SegmentWriter::~SegmentWriter()
{
    d->requestStop();
    d->joinAll();
    d->audio.clear();
}

QCoro::Task<Result<Done, PlatformError>> SegmentWriter::startCapture()
{
    std::shared_ptr<Private> state = d;
    // A named local: g++ 12 destroys temporaries inside a co_await twice.
    auto opening = QtConcurrent::run([state] { return state->open(); });
    co_return co_await opening;
}

QCoro::Task<Result<Done, PlatformError>> SegmentWriter::stopCapture()
{
    std::shared_ptr<Private> state = d;
    state->requestStop();
    auto stopping = QtConcurrent::run([state] { state->joinCapture(); });
    co_await stopping;
    co_return Done {};
}

std::vector<AudioLoss> SegmentWriter::droppedAudio() const
{
    return d->droppedAudio;
}

bool SegmentWriter::usesDefaultMicrophone() const
{
    return d->usesDefaultMicrophone;
}

void SegmentWriter::setExcludedWindows(std::vector<NativeWindowId> windows)
{
    std::lock_guard lock(d->mutex);
    d->excluded = std::move(windows);
}

SegmentWriter::Statistics SegmentWriter::statistics() const
{
    return {d->captured.load(), d->dropped.load(), d->encoded.load()};
}

LiveSegmentCapture::LiveSegmentCapture(FrameSource &frames, AudioSource &audio)
    : m_frames(frames)
    , m_recording(frames.forOneRecording())
    , m_audio(audio)
{
}

LiveSegmentCapture::~LiveSegmentCapture() = default;

void LiveSegmentCapture::recordingEnded()
{
    m_recording = m_frames.forOneRecording();
}

Result<std::unique_ptr<SegmentStream>, PlatformError> LiveSegmentCapture::makeStream(
    SegmentSettings settings, SegmentNotices notices)
{
    using R = Result<std::unique_ptr<SegmentStream>, PlatformError>;
    if (settings.pixels.isEmpty() || settings.pixels.width() % 2 || settings.pixels.height() % 2)
        return R::failure({QStringLiteral("A área a gravar está vazia.")});
    return R(std::make_unique<SegmentWriter>(std::move(settings), std::move(notices), frames(), m_audio));
}
