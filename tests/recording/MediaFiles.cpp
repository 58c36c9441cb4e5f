#include "MediaFiles.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace MediaFiles {

QString make(const QString &path, const SyntheticVideo::Options &options)
{
    const auto written = SyntheticVideo::write(path, options);
    EXPECT_TRUE(written.ok()) << (written.ok() ? "" : written.error().description.toStdString());
    return path;
}

SyntheticVideo::Options video(double videoSeconds, std::vector<double> audioTracks)
{
    SyntheticVideo::Options options;
    options.videoSeconds = videoSeconds;
    options.audioTracks = std::move(audioTracks);
    return options;
}

std::vector<ProbedStream> Probe::streamsOf(const QString &type) const
{
    std::vector<ProbedStream> found;
    for (const ProbedStream &s : streams)
        if (s.type == type)
            found.push_back(s);
    return found;
}

std::vector<ProbedPacket> Probe::packetsOf(int stream) const
{
    std::vector<ProbedPacket> found;
    for (const ProbedPacket &p : packets)
        if (p.stream == stream)
            found.push_back(p);
    return found;
}

const ProbedStream &Probe::stream(int index) const
{
    for (const ProbedStream &s : streams)
        if (s.index == index)
            return s;
    static const ProbedStream none;
    return none;
}

Probe probe(const QString &path)
{
    Probe result;
    const auto out = TestSupport::run("ffprobe",
        {"-v", "error", "-show_entries",
            "stream=index,codec_type,time_base,start_time,duration:format=duration:packet=stream_index,pts,dts,"
            "duration,flags",
            "-of", "compact=p=1:nk=0", path},
        QProcessEnvironment::systemEnvironment(), 60000);
    EXPECT_EQ(out.exitCode, 0) << out.err.toStdString();
    if (out.exitCode != 0)
        return result;
    for (const QString &line : QString::fromUtf8(out.out).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split('|');
        QHash<QString, QString> fields;
        for (const QString &field : parts.mid(1)) {
            const qsizetype eq = field.indexOf('=');
            fields.insert(field.left(eq), field.mid(eq + 1));
        }
        if (parts.front() == "stream") {
            ProbedStream s;
            s.index = fields["index"].toInt();
            s.type = fields["codec_type"];
            s.timeBase = fields["time_base"].section('/', 1).toLongLong();
            s.start = fields["start_time"].toDouble();
            s.duration = fields["duration"].toDouble();
            result.streams.push_back(s);
        } else if (parts.front() == "format") {
            result.duration = fields["duration"].toDouble();
        } else if (parts.front() == "packet") {
            result.packets.push_back({fields["stream_index"].toInt(), fields["pts"].toLongLong(),
                fields["dts"].toLongLong(), fields["duration"].toLongLong(), fields["flags"].contains('D')});
        }
    }
    result.ok = true;
    return result;
}

void expectWellFormed(const Probe &probe)
{
    ASSERT_TRUE(probe.ok);
    for (const ProbedStream &stream : probe.streams) {
        const auto packets = probe.packetsOf(stream.index);
        ASSERT_FALSE(packets.empty()) << "stream " << stream.index;
        for (size_t i = 1; i < packets.size(); ++i)
            ASSERT_GT(packets[i].dts, packets[i - 1].dts) << "stream " << stream.index << " packet " << i;
        if (stream.type == "video") {
            const ProbedPacket &last = packets.back();
            EXPECT_NEAR(last.seconds(last.pts + last.duration, stream), probe.duration, 1e-4);
        }
    }
}

} // namespace MediaFiles
