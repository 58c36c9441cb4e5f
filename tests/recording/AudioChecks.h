#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

// What ffmpeg hears in the audio tracks of a file.
namespace AudioChecks {

constexpr int decodeRate = 48000;

// Audio track TRACK decoded by ffmpeg to mono floats at 48 kHz, from FROM
// seconds for LENGTH seconds (the whole track when LENGTH is 0).
inline std::vector<float> decode(const QString &path, int track, double from = 0, double length = 0)
{
    QStringList arguments {"-v", "error", "-i", path, "-map", QStringLiteral("0:a:%1").arg(track)};
    if (from > 0 || length > 0)
        arguments << "-af"
                  << (length > 0 ? QStringLiteral("atrim=%1:%2").arg(from).arg(from + length)
                                 : QStringLiteral("atrim=start=%1").arg(from));
    arguments << "-ac"
              << "1"
              << "-ar" << QString::number(decodeRate) << "-f"
              << "f32le"
              << "-";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments);
    ffmpeg.waitForFinished(60000);
    const QByteArray raw = ffmpeg.readAllStandardOutput();
    std::vector<float> samples(size_t(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

// The amplitude of FREQUENCY in SAMPLES (Goertzel over a Hann window): about
// the tone's peak level when the tone is there, near 0 when it is not.
inline double toneAmplitude(const std::vector<float> &samples, double frequency, int rate = decodeRate)
{
    if (samples.size() < 2)
        return 0;
    const double w = 2 * std::numbers::pi * frequency / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0, windowSum = 0;
    const size_t n = samples.size();
    for (size_t i = 0; i < n; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n - 1));
        windowSum += window;
        const double s0 = samples[i] * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / windowSum;
}

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
