#include "SelfTest.h"

#include "platform/media/FrameExtractor.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/SyntheticVideo.h"
#include "recording/SegmentJoin.h"

#include <QCoroFuture>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include <charconv>

namespace SelfTest {

namespace {

// Replaces PATH with LINES, each ended by a line feed; errors ignored.
void writeReport(const QString &path, const QStringList &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    file.commit();
}

// The outcome of one heavy step: empty when it went well, else why not.
using StepError = QString;

// Opens the joined file and judges it, giving the report line.
QString checkJoined(const QString &path)
{
    const auto fail = [](const QString &why) { return QStringLiteral("FAIL uniao: ") + why; };
    const MediaAsset asset = MediaAsset::open(path);
    const auto duration = asset.duration();
    if (!duration)
        return fail(duration.error().description);
    const auto video = asset.tracks(MediaType::video);
    if (!video)
        return fail(video.error().description);
    const auto audio = asset.tracks(MediaType::audio);
    if (!audio)
        return fail(audio.error().description);
    auto extractor = FrameExtractor::open(path);
    if (!extractor)
        return fail(extractor.error().description);

    int bad = 0;
    int sampled = 0;
    const double seconds = duration->seconds();
    for (int k = 0;; ++k) {
        const double t = 0.1 * (k + 1);
        if (!(t < seconds - 0.1))
            break;
        const auto frame = extractor->frame(MediaTime::fromSeconds(t, 600), QSize(32, 32));
        if (!frame)
            return fail(frame.error().description);
        ++sampled;
        if (isBlackFrame(*frame))
            ++bad;
    }
    const bool ok = seconds >= 3.8 && seconds <= 4.2 && bad == 0 && video->size() == 1 && audio->size() == 1;
    return QString::asprintf("%s uniao: %.2fs video=%d audio=%d quadros_ruins=%d/%d", ok ? "OK" : "FAIL", seconds,
        int(video->size()), int(audio->size()), bad, sampled);
}

} // namespace

Result<Done, MediaError> writeSyntheticVideo(const QString &path, int seconds)
{
    SyntheticVideo::Options options;
    options.videoSeconds = seconds;
    options.width = 640;
    options.height = 360;
    options.framesPerSecond = 30;
    options.pixelByte = 0x80;
    // Shorter than the first segment, so the joined file has one audio track
    // that ends inside the first segment.
    options.audioTracks = {0.5};
    options.sampleRate = 44100;
    options.channels = 2;
    return SyntheticVideo::write(path, options);
}

bool isBlackFrame(const QImage &image)
{
    const QImage small = image.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < small.height(); ++y) {
        const uchar *row = small.constScanLine(y);
        for (int x = 0; x < small.width(); ++x) {
            const uchar *pixel = row + 4 * x;
            if (pixel[0] + pixel[1] + pixel[2] > 14)
                return false;
        }
    }
    return true;
}

bool isMagenta(QRgb pixel)
{
    return qRed(pixel) >= 201 && qGreen(pixel) <= 69 && qBlue(pixel) >= 201;
}

int magentaCount(const QImage &image)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            count += isMagenta(row[x]);
    }
    return count;
}

QRectF magentaWindowRect(const CaptureTarget &target)
{
    const QRectF area = target.rect.value_or(testArea);
    const QSizeF size(120, 80);
    return QRectF(QPointF(area.left() + 50, area.top() + 150 - size.height()), size);
}

std::vector<double> sampleTimes(double duration, double first, double step)
{
    std::vector<double> times;
    // Each time from its index, so that no rounding error piles up.
    for (int k = 0;; ++k) {
        const double t = first + step * k;
        if (!(t < duration - 0.1))
            break;
        times.push_back(t);
    }
    return times;
}

QString decimalText(double value)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, written.ptr - buffer);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('n')))
        text += QStringLiteral(".0");
    return text;
}

QString screenLine(const QString &label, const QSizeF &points, double scale)
{
    return QStringLiteral("%1: %2x%3 pontos, escala %4")
        .arg(label)
        .arg(qint64(points.width()))
        .arg(qint64(points.height()))
        .arg(decimalText(scale));
}

QString rectText(const QRectF &rect)
{
    QString text;
    QDebug(&text).nospace().noquote() << rect;
    return text;
}

QString targetText(const std::optional<CaptureTarget> &target)
{
    if (!target)
        return QStringLiteral("nenhum");
    return QStringLiteral("CaptureTarget(displayID: %1, rect: %2)")
        .arg(target->displayID)
        .arg(target->rect ? rectText(*target->rect) : QStringLiteral("nenhum"));
}

QString recordingLine(const QString &name, const RecordingFindings &findings)
{
    const bool ok = findings.magentaInVideo == 0 && findings.magentaWithoutExclusion > 0;
    return QString::asprintf("%s %s: %dx%d %.1fs magenta_no_video=%d magenta_sem_exclusao=%d", ok ? "OK" : "FAIL",
        name.toUtf8().constData(), findings.width, findings.height, findings.duration, findings.magentaInVideo,
        findings.magentaWithoutExclusion);
}

QString waylandRecordingLine(const QString &name, const RecordingFindings &findings, bool blackFrame)
{
    const bool ok = !blackFrame && findings.duration >= 2.5 && findings.width > 0 && findings.height > 0;
    return QString::asprintf("%s %s: %dx%d %.1fs magenta_no_video=%d magenta_sem_exclusao=%d", ok ? "OK" : "FAIL",
               name.toUtf8().constData(), findings.width, findings.height, findings.duration, findings.magentaInVideo,
               findings.magentaWithoutExclusion)
        + (blackFrame ? QStringLiteral(" quadro_preto") : QString())
        + QStringLiteral(" (exclusão não verificável no Wayland: o compositor desenha as janelas do Velunta nas "
                         "gravações)");
}

QString skipLine(const QString &name, const QString &why)
{
    return QStringLiteral("SKIP ") + name + QStringLiteral(": ") + why;
}

QString pauseLine(const QString &name, const PauseFindings &findings)
{
    const bool ok = findings.deliveredRequestedFile && findings.duration >= 3.8 && findings.duration <= 5.0
        && findings.videoTracks == 1 && findings.badFrames == 0;
    return QString::asprintf("%s %s: %.1fs video=%d audio=%d quadros_ruins=%d/%d trechos: %s", ok ? "OK" : "FAIL",
        name.toUtf8().constData(), findings.duration, findings.videoTracks, findings.audioTracks, findings.badFrames,
        findings.sampledFrames, findings.segmentReport.toUtf8().constData());
}

QString barPlacementLine(const BarFrameRule &barFrame)
{
    // Global coordinates here have y growing downwards: "below" an area is a
    // larger y. B is the area 2 points above the visible frame's bottom.
    const QRectF visible(0, 0, 1000, 800);
    const QRectF a(300, 300, 400, 200);
    const QRectF b(300, visible.bottom() - 2 - 200, 400, 200);
    const QRectF c = visible;
    const QRectF d(0, 300, 60, 200);
    const QRectF barA = barFrame(a, visible);
    const QRectF barB = barFrame(b, visible);
    const QRectF barC = barFrame(c, visible);
    const QRectF barD = barFrame(d, visible);

    const bool belowA = barA.top() >= a.bottom() && barA.center().x() == a.center().x();
    const bool aboveB = barB.bottom() <= b.top();
    const bool ok = belowA && aboveB && visible.contains(barC) && visible.contains(barD);
    if (ok)
        return QStringLiteral("OK posicao-barra");
    return QStringLiteral("FAIL posicao-barra: %1 %2 %3 %4")
        .arg(rectText(barA), rectText(barB), rectText(barC), rectText(barD));
}

QCoro::Task<void> runMerge(QString folderPath)
{
    // Every step touches the disk, so each runs on a worker thread while this
    // task waits. g++ 12 destroys temporaries that live across a co_await
    // twice (braced lists, lambdas passed straight to QtConcurrent::run):
    // everything that spans a suspension here is a named local.
    const QDir folder(folderPath);
    const QString first = folder.filePath(QStringLiteral("sintetico-1.mp4"));
    const QString second = folder.filePath(QStringLiteral("sintetico-2.mp4"));
    const QString joined = folder.filePath(QStringLiteral("sintetico-unido.mp4"));
    const QString report = folder.filePath(QStringLiteral("merge.txt"));

    const auto makeAndJoin = [folderPath, first, second, joined]() -> StepError {
        QDir().mkpath(folderPath);
        QFile::remove(first);
        QFile::remove(second);
        QFile::remove(joined);
        if (const auto written = writeSyntheticVideo(first, 1); !written)
            return written.error().description;
        if (const auto written = writeSyntheticVideo(second, 2); !written)
            return written.error().description;
        const auto merged = SegmentJoin::join({{first, 2.0}, {second, 2.0}}, joined);
        if (!merged)
            return merged.error().description();
        return {};
    };
    QFuture<StepError> joining = QtConcurrent::run(makeAndJoin);
    const StepError error = co_await joining;

    const auto checkAndReport = [error, joined, report] {
        const QString line = error.isEmpty() ? checkJoined(joined) : QStringLiteral("FAIL uniao: ") + error;
        writeReport(report, {line, QStringLiteral("FIM")});
    };
    QFuture<void> reporting = QtConcurrent::run(checkAndReport);
    co_await reporting;
}

} // namespace SelfTest
