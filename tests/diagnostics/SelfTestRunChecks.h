#pragma once

// What a finished self-test leaves in its folder, checked against the
// screens it reports, with ffprobe as an independent reader of the videos.
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <gtest/gtest.h>

namespace SelfTestRunChecks {

struct VideoInfo {
    double duration = 0;
    int videoTracks = 0;
    int audioTracks = 0;
    QString codec;
    QSize size;
};

inline VideoInfo probe(const QString &path)
{
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", path});
    process.waitForFinished(30000);
    const QJsonObject root = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    VideoInfo info;
    info.duration = root["format"].toObject()["duration"].toString().toDouble();
    for (const QJsonValue &value : root["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        if (stream["codec_type"].toString() == "video") {
            if (info.videoTracks++ == 0) {
                info.codec = stream["codec_name"].toString();
                info.size = QSize(stream["width"].toInt(), stream["height"].toInt());
            }
        } else if (stream["codec_type"].toString() == "audio") {
            ++info.audioTracks;
        }
    }
    return info;
}

struct Screen {
    QString label;
    QSize points;
};

// The lines of one screen, in order, and the files beside them. Returns the
// number of lines it looked at.
inline int checkScreen(const QStringList &lines, int at, const QString &folder, const Screen &screen)
{
    const QString &label = screen.label;
    const QSize pixels = screen.points; // the test desktops have scale 1
    EXPECT_EQ(
        lines.value(at), QString("%1: %2x%3 pontos, escala 1.0").arg(label).arg(pixels.width()).arg(pixels.height()));
    EXPECT_EQ(
        lines.value(at + 1), QString("OK %1-print-inteira: %2x%3").arg(label).arg(pixels.width()).arg(pixels.height()));
    EXPECT_EQ(lines.value(at + 2), QString("OK %1-print-area: 401x301").arg(label));

    const QImage whole(folder + "/" + label + "-print-inteira.png");
    EXPECT_EQ(whole.size(), pixels);
    EXPECT_EQ(whole.dotsPerMeterX(), 2835);
    EXPECT_EQ(QImage(folder + "/" + label + "-print-area.png").size(), QSize(401, 301));

    const QRegularExpression recording(QString(R"(^OK %1-video-(inteira|area): (\d+)x(\d+) (\d+\.\d)s )"
                                               R"(magenta_no_video=0 magenta_sem_exclusao=9600$)")
                                           .arg(label));
    for (int i : {3, 4}) {
        const auto match = recording.match(lines.value(at + i));
        EXPECT_TRUE(match.hasMatch()) << lines.value(at + i).toStdString();
        if (!match.hasMatch())
            continue;
        const QString kind = match.captured(1);
        const QSize size = kind == "inteira" ? QSize(pixels.width() & ~1, pixels.height() & ~1) : QSize(400, 300);
        EXPECT_EQ(QSize(match.captured(2).toInt(), match.captured(3).toInt()), size);
        EXPECT_GE(match.captured(4).toDouble(), 2.9);
        EXPECT_LE(match.captured(4).toDouble(), 4.0);
        const VideoInfo video = probe(folder + "/" + label + "-video-" + kind + ".mp4");
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(video.size, size);
        EXPECT_EQ(video.videoTracks, 1);
        EXPECT_NEAR(video.duration, match.captured(4).toDouble(), 0.1);
    }
    EXPECT_TRUE(lines.value(at + 3).startsWith(QString("OK %1-video-inteira: ").arg(label)));
    EXPECT_TRUE(lines.value(at + 4).startsWith(QString("OK %1-video-area: ").arg(label)));

    const QRegularExpression pause(
        QString(R"(^OK %1-video-pausa: (\d\.\d)s video=1 audio=(\d) quadros_ruins=0/(\d+) )"
                R"(trechos: dur=\d+\.\d\d vide\[[-0-9.]+\][^|]* \| dur=\d+\.\d\d vide\[[-0-9.]+\].*$)")
            .arg(label));
    const auto paused = pause.match(lines.value(at + 5));
    EXPECT_TRUE(paused.hasMatch()) << lines.value(at + 5).toStdString();
    if (paused.hasMatch()) {
        EXPECT_GE(paused.captured(1).toDouble(), 3.8);
        EXPECT_LE(paused.captured(1).toDouble(), 5.0);
        // A frame every quarter second from 0.1 s up to the last tenth.
        EXPECT_GE(paused.captured(3).toInt(), 15);
        const VideoInfo video = probe(folder + "/" + label + "-video-pausa.mp4");
        EXPECT_EQ(video.videoTracks, 1);
        EXPECT_EQ(video.audioTracks, paused.captured(2).toInt());
        EXPECT_EQ(video.size, QSize(400, 300));
        EXPECT_NEAR(video.duration, paused.captured(1).toDouble(), 0.1);
    }
    return 6;
}

// The lines after the screens.
inline void checkClosingLines(const QStringList &lines, int at)
{
    EXPECT_EQ(lines.mid(at),
        (QStringList {
            "OK posicao-barra", "OK selecao: QRectF(100,100 400x300)", "OK clipboard: arquivo copiado", "FIM"}));
}

// The report split into lines, after checking that it ends with a line feed.
inline QStringList reportLines(const QString &path)
{
    const QByteArray text = TestSupport::readFile(path);
    EXPECT_TRUE(text.endsWith('\n'));
    QStringList lines = QString::fromUtf8(text).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace SelfTestRunChecks
