#pragma once

#include "capture/CaptureEngine.h"
#include "capture/CaptureFailure.h"
#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "recording/SegmentStream.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A screen recording is written as one MP4 file per stretch between a start
// or resume and a pause or stop (a segment). At the stop the segments are
// checked and joined, without re-encoding, into the recording's file.
//
// An instance records one recording: start, pause and resume, stop. It lives
// on the GUI thread; its segment streams capture and encode on their own
// threads and report back to it there. The stop's checks, join and file
// moves run on worker threads while stop() waits.
//
// The checks and the join are SegmentChecks and SegmentJoin.
class ScreenRecorder : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool capturesSystemAudio = false;
        bool capturesMicrophone = false;
        bool operator==(const Options &) const = default;
    };

    // A sound source the recording asked for and lacks: never recorded (its
    // track is left out of the file), or recorded only in part (the track is
    // silent from where the source went away).
    struct MissingAudio {
        SoundSource source = SoundSource::systemAudio;
        bool isPartial = false;
        PlatformError reason;
        bool operator==(const MissingAudio &) const = default;
    };

    // How a segment reads its display: the source rectangle in points, the
    // desktop pixels it covers and the picture's (even) size.
    struct SegmentGeometry {
        QRectF sourceRect;
        QRect pixels;
        bool usesHevc = false;
        bool operator==(const SegmentGeometry &) const = default;
    };

    ScreenRecorder(ScreenSource &screens, SegmentCaptureService &service, QObject *parent = nullptr);
    // An open segment is abandoned and the private folder removed (unless
    // closeForRecovery() let go of it): quitting while recording leaves
    // nothing behind in the save folder.
    ~ScreenRecorder() override;

    // Called on the GUI thread when capture stops by itself during a segment
    // (for example its display went away); the owner is expected to stop().
    std::function<void()> onUnexpectedStop;

    bool isPaused() const { return m_isPaused; }
    // The segment report of the last stop; diagnostics only.
    QString segmentReport() const { return m_segmentReport; }
    // The private folder while a recording runs, else empty.
    QString segmentsFolder() const { return m_segmentsFolder.value_or(QString()); }
    QStringList segments() const { return m_segments; }
    // What sound the recording lacks so far, system audio first. The first
    // segment settles the tracks: a source missing then is left out for the
    // whole recording, so that every segment has the same tracks to join.
    std::vector<MissingAudio> missingAudio() const;
    // The sound server's input to record as the microphone, for the segments
    // opened from now on; empty (the default) for the system's default input.
    void setMicrophoneDevice(QString name) { m_microphoneDevice = std::move(name); }
    // Some segment recorded the system's default microphone because the one
    // asked for was not there.
    bool usesDefaultMicrophone() const { return m_usesDefaultMicrophone; }

    // Creates the private folder (SegmentFolder: in the cache, else beside
    // PATH when only that disk has room) and opens the first segment. On
    // failure the folder stays until stop() or destruction.
    QCoro::Task<Result<Done, CaptureFailure>> start(CaptureTarget target, QString path, Options options);
    // Closes the open segment and delivers the recording: the path of the
    // file that holds it (PATH of start(), or the first numbered part when
    // the segments could not be joined).
    QCoro::Task<Result<QString, CaptureFailure>> stop();
    // Closes the open segment; nothing when already paused.
    QCoro::Task<void> pause();
    // Opens a new segment; nothing when not paused. On failure the recording
    // stays paused.
    QCoro::Task<Result<Done, CaptureFailure>> resume();
    // Closes the open segment (or waits for one being closed) and lets go
    // of the private folder, which then outlives the recorder: with its
    // owner's process gone, the next start recovers it (RecordingRecovery).
    // For a program told to end, not for a quit by the user.
    QCoro::Task<void> closeForRecovery();

    // Whether the recording ended because its disk was full or about to be.
    bool stoppedForLackOfSpace() const { return m_lacksSpace; }

    // Free bytes on the file system of a path (statvfs by default), and how
    // often a running recording asks.
    using FreeSpaceProbe = std::function<std::optional<uint64_t>(const QString &path)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe) { m_freeSpace = std::move(probe); }
    void setSpaceCheckInterval(std::chrono::milliseconds interval) { m_spaceCheck.setInterval(interval); }

    // How long stopping a segment waits for its file to be finished.
    void setFinishTimeout(std::chrono::milliseconds timeout) { m_finishTimeout.setInterval(timeout); }

    static SegmentGeometry segmentGeometry(const ResolvedCapture &resolved, const CaptureTarget &target);
    // "trecho-N.mp4".
    static QString segmentFileName(int index);

    // What stop() does with the closed segments, on a worker thread: trim
    // any cut off mid-write to their complete fragments, check them, join
    // them into FINALPATH (a regular MP4 with its index in front, also for a
    // lone segment), else leave them as they are: a lone one moved to
    // FINALPATH, several as numbered parts. REPORT receives the segment report.
    static Result<QString, CaptureFailure> deliver(const QStringList &segments, const QHash<QString, double> &measured,
        const std::optional<QString> &finalPath, const std::optional<PlatformError> &lastFailure, QString *report);

signals:
    void segmentFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QCoro::Task<Result<Done, CaptureFailure>> startSegment();
    QCoro::Task<void> stopSegment();
    QCoro::Task<void> waitForSegmentFinish();
    void markSegmentFinished();
    void segmentDidFinish(quint64 generation);
    void segmentDidFail(quint64 generation, PlatformError error);
    void streamDidStop(quint64 generation, PlatformError error);
    void noteMissingAudio(const AudioLoss &loss, bool isPartial);
    void updateExcludedWindows();
    QCoro::Task<void> checkSpace();
    struct NewFolder {
        Result<QString, CaptureFailure> path;
        bool lacksSpace = false;
    };
    // On a worker thread.
    static NewFolder makeSegmentsFolder(const QString &finalPath, const FreeSpaceProbe &freeSpace);

    ScreenSource &m_screens;
    SegmentCaptureService &m_service;
    bool m_isPaused = false;
    QString m_segmentReport;
    std::optional<CaptureTarget> m_target;
    std::optional<Options> m_options;
    // The sound tracks every segment has, once the first one has started.
    std::optional<Options> m_audioTracks;
    std::vector<MissingAudio> m_missingAudio;
    QString m_microphoneDevice;
    bool m_usesDefaultMicrophone = false;
    std::optional<QString> m_finalURL;
    std::optional<QString> m_segmentsFolder;
    QStringList m_segments;
    QHash<QString, double> m_measuredDurations;
    std::optional<std::chrono::steady_clock::time_point> m_segmentStart;
    std::unique_ptr<SegmentStream> m_stream;
    bool m_didFinishSegment = true;
    std::optional<PlatformError> m_failure;
    QTimer m_finishTimeout;
    QTimer m_exclusionRefresh;
    QTimer m_spaceCheck;
    FreeSpaceProbe m_freeSpace;
    bool m_isCheckingSpace = false;
    bool m_lacksSpace = false;
    uint64_t m_lastFolderBytes = 0;
    std::chrono::steady_clock::time_point m_lastSpaceCheck;
    // Notices of an earlier segment's stream are not about the current one.
    quint64 m_generation = 0;
};
