#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// What ffmpeg hears in the first audio track of a file.
namespace AudioChecks {

inline QString ffmpegReport(const QString &path, const QString &filter)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "info", "-nostats", "-i", path, "-map", "0:a:0", "-af", filter, "-f", "null", "-"});
    ffmpeg.waitForFinished(60000);
    return QString::fromUtf8(ffmpeg.readAllStandardError());
}

// The mean volume in dB between FROM and TO seconds (-91 for silence, -200
// when there is no audio to measure).
inline double meanVolumeBetween(const QString &path, double from, double to)
{
    const QString out = ffmpegReport(path, QStringLiteral("atrim=%1:%2,volumedetect").arg(from).arg(to));
    const auto match = QRegularExpression(R"(mean_volume: (-?[0-9.]+) dB)").match(out);
    return match.hasMatch() ? match.captured(1).toDouble() : -200;
}

inline double audioDuration(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_streams", "-of", "json", path});
    ffprobe.waitForFinished(30000);
    const QJsonArray streams = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object()["streams"].toArray();
    return streams.isEmpty() ? 0 : streams[0].toObject()["duration"].toString().toDouble();
}

// Where the silence (below -50 dB) that lasts to the end of the track begins;
// -1 when the track does not end in silence.
inline double trailingSilence(const QString &path)
{
    const QString out = ffmpegReport(path, QStringLiteral("silencedetect=noise=-50dB:d=0.3"));
    double lastStart = -1;
    for (auto it = QRegularExpression(R"(silence_start: (-?[0-9.]+))").globalMatch(out); it.hasNext();)
        lastStart = it.next().captured(1).toDouble();
    double lastEnd = -1;
    for (auto it = QRegularExpression(R"(silence_end: ([0-9.]+))").globalMatch(out); it.hasNext();)
        lastEnd = it.next().captured(1).toDouble();
    // A silence that reaches the end of the file may or may not get an end line.
    const bool toTheEnd = lastStart >= 0 && (lastEnd < lastStart || lastEnd > audioDuration(path) - 0.1);
    return toTheEnd ? lastStart : -1;
}

} // namespace AudioChecks
