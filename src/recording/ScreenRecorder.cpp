// A recording from start to stop: one segment file per stretch between a
// start or resume and a pause or stop, delivered as one file at the end.
#include "recording/ScreenRecorder.h"

#include "platform/WindowLevel.h"
#include "recording/DiskSpace.h"
#include "recording/SegmentChecks.h"
#include "recording/SegmentFolder.h"
#include "recording/SegmentJoin.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace {

PlatformError fileError(const QString &what, const QString &reason)
{
    return {QStringLiteral("%1: %2").arg(what, reason)};
}

// A rename where source and target share a file system, else a copy.
Result<Done, CaptureFailure> moveFile(const QString &from, const QString &to)
{
    using R = Result<Done, CaptureFailure>;
    QFile file(from);
    if (!file.rename(to))
        return R::failure(
            fileError(QStringLiteral("Não foi possível mover a gravação para %1").arg(to), file.errorString()));
    return Done {};
}

// Only ever a regular file: the path might name something else by now.
void removeFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink())
        QFile::remove(path);
}

} // namespace

ScreenRecorder::ScreenRecorder(ScreenSource &screens, SegmentCaptureService &service, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_service(service)
{
    m_finishTimeout.setSingleShot(true);
    m_finishTimeout.setInterval(std::chrono::seconds(10));
    connect(&m_finishTimeout, &QTimer::timeout, this, &ScreenRecorder::markSegmentFinished);
    // Windows shown during a recording are caught as they appear (see
    // eventFilter); the timer only catches level changes of shown windows.
    m_exclusionRefresh.setInterval(std::chrono::milliseconds(250));
    connect(&m_exclusionRefresh, &QTimer::timeout, this, &ScreenRecorder::updateExcludedWindows);
    m_freeSpace = DiskSpace::available;
    m_spaceCheck.setInterval(DiskSpace::checkInterval);
    connect(&m_spaceCheck, &QTimer::timeout, this, &ScreenRecorder::checkSpace);
}

ScreenRecorder::~ScreenRecorder()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    // Stops its threads; the half-written segment goes with the folder.
    m_stream.reset();
    if (m_segmentsFolder)
        SegmentFolder::remove(*m_segmentsFolder);
}

QString ScreenRecorder::segmentFileName(int index)
{
    return QStringLiteral("trecho-%1.mp4").arg(index);
}

ScreenRecorder::SegmentGeometry ScreenRecorder::segmentGeometry(
    const ResolvedCapture &resolved, const CaptureTarget &target)
{
    const QRectF rect = CaptureEngine::sourceRect(resolved, target);
    const double scale = resolved.scale > 0 ? resolved.scale : 1.0;
    // Encoders want even sizes: drop the lowest bit, keep at least 2.
    const auto evenPixels = [scale](double points) {
        const double pixels = std::floor(points * scale);
        const int whole = pixels >= 2 && pixels < 1 << 30 ? int(pixels) : 2;
        return whole & ~1;
    };
    const int width = evenPixels(rect.width());
    const int height = evenPixels(rect.height());
    SegmentGeometry geometry;
    geometry.sourceRect = QRectF(rect.x(), rect.y(), width / scale, height / scale);
    geometry.pixels = QRect(CaptureEngine::pixelRect(resolved, geometry.sourceRect).topLeft(), QSize(width, height));
    geometry.usesHevc = std::max(width, height) > 4096;
    return geometry;
}

QCoro::Task<Result<Done, CaptureFailure>> ScreenRecorder::start(CaptureTarget target, QString path, Options options)
{
    using R = Result<Done, CaptureFailure>;
    m_target = target;
    m_options = options;
    m_finalURL = path;
    QPointer<ScreenRecorder> self(this);
    auto making = QtConcurrent::run([path, probe = m_freeSpace] { return makeSegmentsFolder(path, probe); });
    const NewFolder folder = co_await making;
    if (!self)
        co_return R::failure(CaptureError::emptyRecording);
    m_lacksSpace = folder.lacksSpace;
    if (!folder.path)
        co_return R::failure(folder.path.error());
    m_segmentsFolder = *folder.path;
    auto started = co_await startSegment();
    if (self && started) {
        m_lastFolderBytes = 0;
        m_lastSpaceCheck = std::chrono::steady_clock::now();
        m_spaceCheck.start();
    }
    co_return started;
}

ScreenRecorder::NewFolder ScreenRecorder::makeSegmentsFolder(const QString &finalPath, const FreeSpaceProbe &freeSpace)
{
    using R = Result<QString, CaptureFailure>;
    // The cache first; the save folder's disk when only that one has room,
    // where the join writes its file anyway. No room anywhere: no recording.
    const QString saveFolder = QFileInfo(finalPath).absolutePath();
    const QString cache = SegmentFolder::cacheRoot();
    QDir().mkpath(cache);
    const QStringList candidates {cache, saveFolder};
    for (const QString &place : candidates) {
        const auto free = freeSpace ? freeSpace(place) : std::nullopt;
        if (free && !DiskSpace::hasRoom(*free, DiskSpace::leastBytesPerSecond))
            continue;
        const QString root = place == cache ? cache : SegmentFolder::saveFolderRoot(saveFolder);
        auto made = SegmentFolder::create(root, SegmentFolder::currentOwner(finalPath));
        if (made)
            return {R(*made), false};
        if (place == candidates.last())
            return {R::failure(made.error()), false};
    }
    return {R::failure(PlatformError {QStringLiteral("O disco está cheio.")}), true};
}

QCoro::Task<Result<Done, CaptureFailure>> ScreenRecorder::startSegment()
{
    using R = Result<Done, CaptureFailure>;
    QPointer<ScreenRecorder> self(this);
    if (!m_target || !m_options || !m_segmentsFolder)
        co_return R::failure(CaptureError::emptyRecording);
    const auto resolved = CaptureEngine::resolve(m_screens, *m_target);
    if (!resolved)
        co_return R::failure(resolved.error());
    const SegmentGeometry geometry = segmentGeometry(*resolved, *m_target);

    SegmentSettings settings;
    settings.path = QDir(*m_segmentsFolder).filePath(segmentFileName(int(m_segments.size())));
    settings.display = m_target->displayID;
    settings.pixels = geometry.pixels;
    settings.excludedWindows = resolved->filter.excludedWindows;
    settings.showsCursor = true;
    settings.maximumFrameRate = 60;
    settings.queueDepth = 6;
    const Options tracks = m_audioTracks.value_or(*m_options);
    settings.capturesSystemAudio = tracks.capturesSystemAudio;
    settings.capturesMicrophone = tracks.capturesMicrophone;
    settings.microphoneDevice = m_microphoneDevice;
    settings.keepsMissingAudioAsSilence = m_audioTracks.has_value();
    settings.usesHevc = geometry.usesHevc;

    const quint64 generation = ++m_generation;
    SegmentNotices notices;
    // Called on the stream's threads: each hops to the GUI thread. The stream
    // is gone (its threads joined) before this object is.
    notices.finished = [this, generation] {
        QMetaObject::invokeMethod(
            this, [this, generation] { segmentDidFinish(generation); }, Qt::QueuedConnection);
    };
    notices.failed = [this, generation](PlatformError error) {
        QMetaObject::invokeMethod(
            this, [this, generation, error] { segmentDidFail(generation, error); }, Qt::QueuedConnection);
    };
    notices.outOfSpace = [this, generation] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation)
                    m_lacksSpace = true;
            },
            Qt::QueuedConnection);
    };
    notices.stopped = [this, generation](PlatformError error) {
        QMetaObject::invokeMethod(
            this, [this, generation, error] { streamDidStop(generation, error); }, Qt::QueuedConnection);
    };
    // Also about earlier segments: what one lost stays lost for the recording.
    notices.audioLost = [this](AudioLoss loss) {
        QMetaObject::invokeMethod(
            this, [this, loss] { noteMissingAudio(loss, true); }, Qt::QueuedConnection);
    };
    const QString segmentPath = settings.path;
    auto made = m_service.makeStream(std::move(settings), std::move(notices));
    if (!made)
        co_return R::failure(made.error());
    m_stream = std::move(*made);
    m_didFinishSegment = false;
    SegmentStream *stream = m_stream.get();
    auto started = co_await stream->startCapture();
    if (!self)
        co_return R::failure(CaptureError::emptyRecording);
    if (!started) {
        m_stream.reset();
        m_didFinishSegment = true;
        co_return R::failure(started.error());
    }
    if (!m_audioTracks) {
        Options settled = *m_options;
        for (const AudioLoss &loss : stream->droppedAudio()) {
            (loss.source == SoundSource::systemAudio ? settled.capturesSystemAudio : settled.capturesMicrophone)
                = false;
            noteMissingAudio(loss, false);
        }
        m_audioTracks = settled;
    }
    m_usesDefaultMicrophone = m_usesDefaultMicrophone || stream->usesDefaultMicrophone();
    m_segments.append(segmentPath);
    m_segmentStart = std::chrono::steady_clock::now();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    m_exclusionRefresh.start();
    updateExcludedWindows();
    co_return Done {};
}

QCoro::Task<void> ScreenRecorder::stopSegment()
{
    QPointer<ScreenRecorder> self(this);
    if (!m_stream)
        co_return;
    // From here on, notices of this stream are no unexpected stop.
    std::unique_ptr<SegmentStream> stream = std::move(m_stream);
    m_exclusionRefresh.stop();
    m_spaceCheck.stop();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (m_segmentStart && !m_segments.isEmpty()) {
        const std::chrono::duration<double> length = std::chrono::steady_clock::now() - *m_segmentStart;
        m_measuredDurations.insert(m_segments.last(), length.count());
    }
    m_segmentStart.reset();
    co_await stream->stopCapture();
    if (!self)
        co_return;
    if (!m_didFinishSegment)
        co_await waitForSegmentFinish();
}

QCoro::Task<void> ScreenRecorder::waitForSegmentFinish()
{
    m_finishTimeout.start();
    co_await qCoro(this, &ScreenRecorder::segmentFinished);
}

void ScreenRecorder::markSegmentFinished()
{
    m_didFinishSegment = true;
    m_finishTimeout.stop();
    emit segmentFinished();
}

void ScreenRecorder::segmentDidFinish(quint64 generation)
{
    if (generation == m_generation)
        markSegmentFinished();
}

void ScreenRecorder::segmentDidFail(quint64 generation, PlatformError error)
{
    if (generation != m_generation)
        return;
    streamDidStop(generation, std::move(error));
    markSegmentFinished();
}

void ScreenRecorder::streamDidStop(quint64 generation, PlatformError error)
{
    if (generation != m_generation)
        return;
    m_failure = error;
    if (m_stream && onUnexpectedStop)
        onUnexpectedStop();
}

void ScreenRecorder::noteMissingAudio(const AudioLoss &loss, bool isPartial)
{
    // The first word about a source is the one that counts: once left out it
    // stays out, and a track that went silent once is incomplete whatever follows.
    for (const MissingAudio &missing : m_missingAudio)
        if (missing.source == loss.source)
            return;
    m_missingAudio.push_back({loss.source, isPartial, loss.reason});
}

std::vector<ScreenRecorder::MissingAudio> ScreenRecorder::missingAudio() const
{
    std::vector<MissingAudio> sorted = m_missingAudio;
    std::sort(sorted.begin(), sorted.end(),
        [](const MissingAudio &a, const MissingAudio &b) { return int(a.source) < int(b.source); });
    return sorted;
}

QCoro::Task<void> ScreenRecorder::pause()
{
    if (m_isPaused)
        co_return;
    m_isPaused = true;
    co_await stopSegment();
}

QCoro::Task<Result<Done, CaptureFailure>> ScreenRecorder::resume()
{
    QPointer<ScreenRecorder> self(this);
    if (!m_isPaused)
        co_return Done {};
    auto started = co_await startSegment();
    if (self && started) {
        m_isPaused = false;
        m_lastSpaceCheck = std::chrono::steady_clock::now();
        m_spaceCheck.start();
    }
    co_return started;
}

QCoro::Task<void> ScreenRecorder::closeForRecovery()
{
    QPointer<ScreenRecorder> self(this);
    co_await stopSegment();
    if (!self)
        co_return;
    // A pause may have been closing the segment already.
    if (!m_didFinishSegment)
        co_await waitForSegmentFinish();
    if (!self)
        co_return;
    m_spaceCheck.stop();
    m_segmentsFolder.reset();
    m_segments.clear();
}

QCoro::Task<Result<QString, CaptureFailure>> ScreenRecorder::stop()
{
    using R = Result<QString, CaptureFailure>;
    QPointer<ScreenRecorder> self(this);
    co_await stopSegment();
    if (!self)
        co_return R::failure(CaptureError::emptyRecording);
    m_service.recordingEnded();

    const QStringList segments = m_segments;
    const QHash<QString, double> measured = m_measuredDurations;
    const std::optional<QString> finalPath = m_finalURL;
    const std::optional<QString> folder = m_segmentsFolder;
    const std::optional<PlatformError> lastFailure = m_failure;
    struct Delivered {
        Result<QString, CaptureFailure> result = Result<QString, CaptureFailure>::failure(CaptureError::emptyRecording);
        QString report;
    };
    auto delivering = QtConcurrent::run([segments, measured, finalPath, folder, lastFailure] {
        Delivered delivered;
        delivered.result = deliver(segments, measured, finalPath, lastFailure, &delivered.report);
        if (folder)
            SegmentFolder::remove(*folder);
        return delivered;
    });
    Delivered delivered = co_await delivering;
    if (!self)
        co_return delivered.result;
    // The folder is gone with what was left in it; moved segments are not affected.
    m_segmentsFolder.reset();
    m_segments.clear();
    if (!delivered.report.isNull())
        m_segmentReport = delivered.report;
    co_return delivered.result;
}

Result<QString, CaptureFailure> ScreenRecorder::deliver(const QStringList &segments,
    const QHash<QString, double> &measured, const std::optional<QString> &finalPath,
    const std::optional<PlatformError> &lastFailure, QString *report)
{
    using R = Result<QString, CaptureFailure>;
    if (!finalPath)
        return R::failure(CaptureError::emptyRecording);
    for (const QString &segment : segments)
        SegmentChecks::trimToCompleteFragments(segment);
    const QStringList usable = SegmentChecks::usableSegments(segments);
    if (usable.isEmpty()) {
        if (lastFailure)
            return R::failure(*lastFailure);
        return R::failure(CaptureError::emptyRecording);
    }
    if (report)
        *report = SegmentChecks::describe(usable);
    std::vector<SegmentPair> pairs;
    for (const QString &url : usable)
        pairs.push_back({url, measured.value(url, 0.0)});

    // Even a lone segment is joined: it is written in fragments, which not
    // every player reads, and its index belongs in front.
    if (SegmentJoin::join(pairs, *finalPath))
        return *finalPath;

    // The join failed: deliver the segments as they are.
    removeFile(*finalPath);
    if (pairs.size() == 1) {
        if (auto moved = moveFile(pairs.front().url, *finalPath); !moved)
            return R::failure(moved.error());
        return *finalPath;
    }
    const QFileInfo info(*finalPath);
    const QString base
        = info.suffix().isEmpty() ? *finalPath : finalPath->left(finalPath->size() - info.suffix().size() - 1);
    QString first;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const QString part = QStringLiteral("%1 - parte %2.mp4").arg(base).arg(i + 1);
        if (auto moved = moveFile(pairs[i].url, part); !moved)
            return R::failure(moved.error());
        if (i == 0)
            first = part;
    }
    return first;
}

bool ScreenRecorder::eventFilter(QObject *watched, QEvent *event)
{
    // A window of ours that is about to be mapped is left out before its
    // first picture can show it (the control bar and the frame appear right
    // after the start).
    if ((event->type() == QEvent::Show || event->type() == QEvent::PlatformSurface) && watched->isWindowType())
        updateExcludedWindows();
    return QObject::eventFilter(watched, event);
}

QCoro::Task<void> ScreenRecorder::checkSpace()
{
    QPointer<ScreenRecorder> self(this);
    if (!m_stream || !m_segmentsFolder || m_isCheckingSpace || m_lacksSpace)
        co_return;
    m_isCheckingSpace = true;
    const QString folder = *m_segmentsFolder;
    const FreeSpaceProbe probe = m_freeSpace;
    struct Measure {
        std::optional<uint64_t> available;
        uint64_t written = 0;
    };
    auto measuring = QtConcurrent::run([folder, probe] {
        return Measure {probe ? probe(folder) : std::nullopt, DiskSpace::folderSize(folder)};
    });
    const Measure measured = co_await measuring;
    if (!self)
        co_return;
    m_isCheckingSpace = false;
    const auto now = std::chrono::steady_clock::now();
    const double rate = DiskSpace::rate(
        m_lastFolderBytes, measured.written, std::chrono::duration<double>(now - m_lastSpaceCheck).count());
    m_lastFolderBytes = measured.written;
    m_lastSpaceCheck = now;
    // Stopped or paused meanwhile: nothing more will be written.
    if (!m_stream || !measured.available || DiskSpace::hasRoom(*measured.available, rate))
        co_return;
    m_lacksSpace = true;
    if (!m_failure)
        m_failure = PlatformError {QStringLiteral("O disco está cheio.")};
    if (onUnexpectedStop)
        onUnexpectedStop();
}

void ScreenRecorder::updateExcludedWindows()
{
    if (m_stream)
        m_stream->setExcludedWindows(WindowLevel::excludedWindowIds());
}
