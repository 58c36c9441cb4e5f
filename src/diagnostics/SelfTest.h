#pragma once

#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "platform/ScreenSource.h"
#include "platform/media/MediaError.h"

#include <QCoroTask>
#include <QImage>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

struct PlatformServices;
class WindowManager;

// Automatic checks of the real capture and recording code on this machine,
// each writing a plain-text report into a folder.
namespace SelfTest {

// The full self-test on the screens of this machine: screenshots, recordings
// (own windows left out, pause and resume), the control bar's placement, the
// area selection and a clipboard round trip, one line each into
// "result.txt" in FOLDERPATH, rewritten after every line and closed by "FIM".
// Runs over the given platform, whose screens come from a QApplication on a
// real window system; both outlive the run. GUI thread.
QCoro::Task<void> run(QString folderPath, PlatformServices &platform, WindowManager &windowManager);

// The merge test: joins two synthetic segments (1 s of picture stretched to
// 2 s, then 2 s) and checks the result, writing "merge.txt" into FOLDERPATH.
QCoro::Task<void> runMerge(QString folderPath);

// A grey 640x360 H.264 picture at 30 frames a second for SECONDS, with a short
// AAC chime (44.1 kHz stereo) that ends within the first second.
Result<Done, MediaError> writeSyntheticVideo(const QString &path, int seconds);

// A frame counts as bad (black) when, scaled to 32x32, no pixel has
// red + green + blue above 14.
bool isBlackFrame(const QImage &image);

// The pieces of the run that are plain rules, shared with the tests.

// The area every area check records or captures: odd sizes, to exercise the
// recorder's even-size rule.
inline constexpr QRectF testArea {100, 100, 401, 301};

// In 8-bit sRGB: red and blue at least 201, green at most 69.
bool isMagenta(QRgb pixel);
int magentaCount(const QImage &image);

// Where the magenta window goes, in the screen's points (top-left origin):
// 120 x 80, its left edge 50 points right of the area's, its bottom 150
// points below the area's top. The area is the target's rectangle, or
// testArea for a whole display.
QRectF magentaWindowRect(const CaptureTarget &target);

// Times at which to sample frames: FIRST, FIRST + STEP, ... for every time
// strictly before DURATION - 0.1 s.
std::vector<double> sampleTimes(double duration, double first, double step);

// A number as "1.0", "2.0", "1.25": the shortest text that reads back as the
// same value, always with a decimal point.
QString decimalText(double value);

// "tela0: 1920x1080 pontos, escala 1.0" (sizes truncated to integers).
QString screenLine(const QString &label, const QSizeF &points, double scale);

// Qt's debug text of a rectangle, e.g. "QRectF(100,100 400x300)".
QString rectText(const QRectF &rect);
// A picked target as text: its rectangle, the whole display, or "nenhum".
QString targetText(const std::optional<CaptureTarget> &target);

struct RecordingFindings {
    int width = 0;
    int height = 0;
    double duration = 0;
    int magentaInVideo = 0;
    int magentaWithoutExclusion = 0;
};
// OK when the recorded frame shows no magenta while a capture that leaves
// nothing out does.
QString recordingLine(const QString &name, const RecordingFindings &findings);

// The same recording on Wayland, where the compositor draws Velunta's own
// windows into every recording: the magenta counts are reported and the line
// says that the exclusion cannot hold there. OK when the recording is at
// least 2.5 s long and its frame at 2 s is not black (BLACKFRAME).
QString waylandRecordingLine(const QString &name, const RecordingFindings &findings, bool blackFrame);

// A check that cannot hold in this session: "SKIP ", its name, ": " and why.
QString skipLine(const QString &name, const QString &why);

struct PauseFindings {
    // The stop delivered the file asked for, not numbered parts.
    bool deliveredRequestedFile = false;
    double duration = 0;
    int videoTracks = 0;
    int audioTracks = 0;
    int badFrames = 0;
    int sampledFrames = 0;
    QString segmentReport;
};
// OK for the requested file, 3.8 to 5.0 s long, one video track, no black frame.
QString pauseLine(const QString &name, const PauseFindings &findings);

// The control bar placed against a 1000 x 800 visible frame for an area in
// its middle, one touching its bottom, the whole frame and a narrow one at
// its left edge: "OK posicao-barra", or "FAIL posicao-barra: " and the four
// frames when one is out of place. BARFRAME is the placement under test.
using BarFrameRule = std::function<QRectF(const std::optional<QRectF> &area, const QRectF &visible)>;
QString barPlacementLine(const BarFrameRule &barFrame);

} // namespace SelfTest
