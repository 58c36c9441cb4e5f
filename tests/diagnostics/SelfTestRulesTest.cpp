// The self-test's plain rules: report line formats, what passes, frame
// sampling, the magenta pixel rule and the bar placement check.
#include "diagnostics/SelfTest.h"
#include "feedback/RecordingControls.h"
#include "platform/x11/X11SelectionRoundTrip.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace SelfTest;

TEST(SelfTestRules, ScaleIsWrittenAsShortestDecimalWithAPoint)
{
    EXPECT_EQ(decimalText(1.0), "1.0");
    EXPECT_EQ(decimalText(2.0), "2.0");
    EXPECT_EQ(decimalText(1.25), "1.25");
    EXPECT_EQ(decimalText(1.1), "1.1");
    EXPECT_EQ(decimalText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(screenLine("tela0", QSizeF(1920, 1080), 1.0), "tela0: 1920x1080 pontos, escala 1.0");
    EXPECT_EQ(screenLine("tela1", QSizeF(1511.9, 982.5), 2.0), "tela1: 1511x982 pontos, escala 2.0");
}

TEST(SelfTestRules, PauseSamplesEveryQuarterSecondStrictlyBeforeTheLastTenth)
{
    const std::vector<double> times = sampleTimes(4.0, 0.1, 0.25);
    ASSERT_EQ(times.size(), 16u); // 0.1 … 3.85, all before 3.9
    EXPECT_DOUBLE_EQ(times.front(), 0.1);
    EXPECT_DOUBLE_EQ(times.back(), 3.85);
    EXPECT_DOUBLE_EQ(times[4], 1.1);
    // A time exactly at duration - 0.1 is left out.
    EXPECT_EQ(sampleTimes(0.45, 0.1, 0.25).size(), 1u);
    EXPECT_EQ(sampleTimes(0.2, 0.1, 0.25).size(), 0u);
    EXPECT_TRUE(sampleTimes(0, 0.1, 0.25).empty());
    // The merge test's tenth-of-a-second sampling of four seconds.
    const std::vector<double> tenths = sampleTimes(4.0, 0.1, 0.1);
    EXPECT_EQ(tenths.size(), 38u);
    EXPECT_NEAR(tenths.back(), 3.8, 1e-9);
}

TEST(SelfTestRules, MagentaIsStrongRedAndBlueWithLittleGreen)
{
    EXPECT_TRUE(isMagenta(qRgb(255, 0, 255)));
    EXPECT_TRUE(isMagenta(qRgb(201, 69, 201)));
    EXPECT_FALSE(isMagenta(qRgb(200, 0, 255)));
    EXPECT_FALSE(isMagenta(qRgb(255, 70, 255)));
    EXPECT_FALSE(isMagenta(qRgb(255, 0, 200)));

    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 5; ++y)
            image.setPixel(x, y, qRgb(250, 10, 250));
    EXPECT_EQ(magentaCount(image), 60);
    EXPECT_EQ(magentaCount(image.convertToFormat(QImage::Format_RGB888)), 60);
    EXPECT_EQ(magentaCount(QImage()), 0);
}

TEST(SelfTestRules, MagentaWindowSitsInsideTheAreaBelowItsTop)
{
    const QRectF forArea = magentaWindowRect({7, QRectF(10, 20, 300, 200)});
    EXPECT_EQ(forArea, QRectF(60, 90, 120, 80)); // bottom at 20 + 150
    // A whole display uses the test area.
    EXPECT_EQ(magentaWindowRect({7, std::nullopt}), QRectF(150, 170, 120, 80));
    EXPECT_TRUE(testArea.contains(magentaWindowRect({7, std::nullopt})));
}

TEST(SelfTestRules, RecordingPassesOnlyWhenTheWindowIsOnScreenButNotInTheVideo)
{
    RecordingFindings findings {1920, 1080, 3.04, 0, 9600};
    EXPECT_EQ(recordingLine("tela0-video-inteira", findings),
        "OK tela0-video-inteira: 1920x1080 3.0s magenta_no_video=0 magenta_sem_exclusao=9600");
    findings.magentaInVideo = 1;
    EXPECT_EQ(recordingLine("tela0-video-inteira", findings),
        "FAIL tela0-video-inteira: 1920x1080 3.0s magenta_no_video=1 magenta_sem_exclusao=9600");
    // Not on screen at all proves nothing.
    findings = {400, 300, 3.06, 0, 0};
    EXPECT_EQ(recordingLine("tela1-video-area", findings),
        "FAIL tela1-video-area: 400x300 3.1s magenta_no_video=0 magenta_sem_exclusao=0");
}

TEST(SelfTestRules, PausePassesForTheRequestedFileOfFourSecondsWithOneVideoTrackAndNoBlackFrame)
{
    PauseFindings findings;
    findings.deliveredRequestedFile = true;
    findings.duration = 4.04;
    findings.videoTracks = 1;
    findings.audioTracks = 1;
    findings.sampledFrames = 16;
    findings.segmentReport = "dur=2.00 vide[0.00-2.00] | dur=2.04 vide[0.00-2.04]";
    EXPECT_EQ(pauseLine("tela0-video-pausa", findings),
        "OK tela0-video-pausa: 4.0s video=1 audio=1 quadros_ruins=0/16 trechos: dur=2.00 vide[0.00-2.00] | dur=2.04 "
        "vide[0.00-2.04]");

    const auto failsWith = [&](auto change) {
        PauseFindings changed = findings;
        change(changed);
        return pauseLine("p", changed).startsWith("FAIL p: ");
    };
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.deliveredRequestedFile = false; })) << "numbered parts";
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.duration = 3.79; }));
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.duration = 5.01; }));
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.videoTracks = 2; }));
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.videoTracks = 0; }));
    EXPECT_TRUE(failsWith([](PauseFindings &f) { f.badFrames = 1; }));
    EXPECT_FALSE(failsWith([](PauseFindings &f) { f.duration = 3.8; }));
    EXPECT_FALSE(failsWith([](PauseFindings &f) { f.duration = 5.0; }));
    EXPECT_FALSE(failsWith([](PauseFindings &f) { f.audioTracks = 0; })) << "audio is reported, not judged";
}

TEST(SelfTestRules, TheControlBarPlacementPasses)
{
    EXPECT_EQ(barPlacementLine(&RecordingControls::barFrame), "OK posicao-barra");
}

TEST(SelfTestRules, AMisplacedBarFailsWithTheFourFrames)
{
    // Always below the area, even where that leaves the visible frame.
    const auto alwaysBelow = [](const std::optional<QRectF> &area, const QRectF &visible) {
        const QRectF where = area.value_or(visible);
        return QRectF(where.center().x() - 88, where.bottom() + 8, 176, 48);
    };
    EXPECT_EQ(barPlacementLine(alwaysBelow),
        "FAIL posicao-barra: QRectF(412,508 176x48) QRectF(412,806 176x48) QRectF(412,808 176x48) "
        "QRectF(-58,508 176x48)");

    // Centred under the area but not kept inside the frame at its left edge.
    const auto unclamped = [](const std::optional<QRectF> &area, const QRectF &visible) {
        QRectF bar = RecordingControls::barFrame(area, visible);
        if (area)
            bar.moveLeft(area->center().x() - 88);
        return bar;
    };
    EXPECT_TRUE(barPlacementLine(unclamped).startsWith("FAIL posicao-barra: "));
}

TEST(SelfTestRules, PickedTargetsAsText)
{
    EXPECT_EQ(rectText(QRectF(100, 100, 400, 300)), "QRectF(100,100 400x300)");
    EXPECT_EQ(targetText(std::nullopt), "nenhum");
    EXPECT_EQ(
        targetText(CaptureTarget {42, QRectF(1, 2, 3, 4)}), "CaptureTarget(displayID: 42, rect: QRectF(1,2 3x4))");
    EXPECT_EQ(targetText(CaptureTarget {42, std::nullopt}), "CaptureTarget(displayID: 42, rect: nenhum)");
}

TEST(SelfTestRules, UriListsAreEncodedLinesEndedByCrLf)
{
    const QList<QUrl> urls {QUrl::fromLocalFile("/tmp/gravação de teste.mp4"), QUrl::fromLocalFile("/tmp/b#c.png")};
    const QByteArray text = X11SelectionRoundTrip::uriListText(urls);
    EXPECT_EQ(text, "file:///tmp/grava%C3%A7%C3%A3o%20de%20teste.mp4\r\nfile:///tmp/b%23c.png\r\n");
    EXPECT_EQ(X11SelectionRoundTrip::parseUriList(text), urls);
    EXPECT_EQ(X11SelectionRoundTrip::parseUriList("# a comment\r\n\r\nfile:///a\nfile:///b"),
        (QList<QUrl> {QUrl("file:///a"), QUrl("file:///b")}));
    EXPECT_TRUE(X11SelectionRoundTrip::parseUriList("").isEmpty());
}
