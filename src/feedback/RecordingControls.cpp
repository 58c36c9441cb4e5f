#include "RecordingControls.h"

#include "RecordingFrame.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"
#include "theme/Theme.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {

const QColor pauseBackground(255, 255, 255, qRound(0.16 * 255));

const QString pauseSymbol = QStringLiteral("pause.fill");
const QString playSymbol = QStringLiteral("play.fill");
const QString stopSymbol = QStringLiteral("stop.fill");

// The usable part of a display (without panels), from the QScreen of the
// same name; the whole display when Qt does not list it.
QRectF visibleArea(const DisplayInfo &display)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == display.name) {
            const QRect available = screen->availableGeometry().intersected(display.frame);
            return QRectF(available.isEmpty() ? display.frame : available);
        }
    }
    return QRectF(display.frame);
}

} // namespace

void RecordingControls::Clock::start(TimePoint now)
{
    accumulated = 0;
    runningSince = now;
}

void RecordingControls::Clock::setPaused(bool paused, TimePoint now)
{
    if (paused) {
        if (runningSince)
            accumulated += std::chrono::duration<double>(now - *runningSince).count();
        runningSince.reset();
    } else if (!runningSince) {
        // A second "resume" must not drop the stretch already running.
        runningSince = now;
    }
}

double RecordingControls::Clock::elapsed(TimePoint now) const
{
    const double running = runningSince ? std::chrono::duration<double>(now - *runningSince).count() : 0.0;
    return accumulated + std::max(running, 0.0);
}

RecordingControls::RecordingControls(ScreenSource &screens, WindowManager *windowManager, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_windowManager(windowManager)
    , m_placeable(WindowLevel::canPlaceWindows())
{
    m_timer.setInterval(tickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RecordingControls::updateTime);
}

RecordingControls::~RecordingControls()
{
    hide();
}

void RecordingControls::setTimeSourceForTesting(std::function<TimePoint()> now)
{
    m_now = std::move(now);
}

RecordingControls::TimePoint RecordingControls::now() const
{
    return m_now ? m_now() : std::chrono::steady_clock::now();
}

QRectF RecordingControls::barFrame(const std::optional<QRectF> &area, const QRectF &visible)
{
    const qreal width = barSize.width();
    const qreal height = barSize.height();
    if (!area)
        return QRectF(visible.center().x() - width / 2, visible.bottom() - bottomOffset - height, width, height);

    qreal y;
    if (const qreal below = area->bottom() + margin; below + height <= visible.bottom())
        y = below;
    else if (const qreal above = area->top() - margin - height; above >= visible.top())
        y = above;
    else
        y = std::min(area->bottom(), visible.bottom()) - margin - height;

    qreal x = area->center().x() - width / 2;
    x = std::max(x, visible.left() + margin);
    x = std::min(x, visible.right() - width - margin);
    return QRectF(x, y, width, height);
}

QString RecordingControls::timeText(double seconds)
{
    const long long total = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(seconds) : 0;
    const long long minutes = total / 60;
    return QString::asprintf("%02lld:%02lld", minutes, total - minutes * 60);
}

void RecordingControls::show(
    const CaptureTarget &target, std::function<void()> onTogglePause, std::function<void()> onStop)
{
    hide();
    m_onTogglePause = std::move(onTogglePause);
    m_onStop = std::move(onStop);
    m_clock.start(now());

    const std::vector<DisplayInfo> displays = m_screens.displays();
    const DisplayInfo *display = nullptr;
    for (const DisplayInfo &candidate : displays) {
        if (candidate.id && *candidate.id == target.displayID) {
            display = &candidate;
            break;
        }
    }
    if (!display) {
        const auto primary
            = std::find_if(displays.begin(), displays.end(), [](const DisplayInfo &d) { return d.primary; });
        display = primary != displays.end() ? &*primary : (displays.empty() ? nullptr : &displays.front());
    }

    QRectF visible(QPointF(0, 0), QSizeF(barSize));
    std::optional<QRectF> area;
    if (display) {
        visible = visibleArea(*display);
        if (target.rect)
            area = RecordingFrame::outlineFrame(QRectF(display->frame), *target.rect);
    }
    const QRectF frame = barFrame(area, visible);

    const bool translucent = m_windowManager && m_windowManager->hasCompositingManager();
    // Where windows cannot be placed (Wayland) the bar is an ordinary window:
    // the compositor puts it where it likes, most likely on the recorded
    // screen, and it shows in the recording, since no client can keep a
    // window out of a screen cast. The user can drag it anywhere, also off
    // the recorded area; a panel that claimed to float below the area would
    // only be wrong.
    auto *panel = new ControlsBackground(QRect(QPoint(qRound(frame.x()), qRound(frame.y())), barSize),
        !target.rect.has_value(), translucent, m_placeable);
    makeContent(panel);
    m_panel = panel;
    updateTime();
    panel->show();
    panel->raise();
    m_timer.start();
}

void RecordingControls::makeContent(ControlsBackground *panel)
{
    auto *dot = new StatusDot(panel);
    dot->setGeometry(dotFrame);

    auto *label = new ClockLabel(QStringLiteral("00:00"), panel);
    QFont font = QGuiApplication::font();
    font.setPixelSize(14);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setGeometry(timeFrame);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto *pause = new FirstClickButton(pauseSymbol, pauseBackground, panel);
    pause->setSymbol(pauseSymbol, QStringLiteral("Pausar"));
    pause->setGeometry(pauseFrame);
    connect(pause, &QAbstractButton::clicked, this, &RecordingControls::pauseClicked);

    auto *stop = new FirstClickButton(stopSymbol, Theme::hudRec, panel);
    stop->setSymbol(stopSymbol, QStringLiteral("Parar"));
    stop->setGeometry(stopFrame);
    connect(stop, &QAbstractButton::clicked, this, &RecordingControls::stopClicked);

    m_dot = dot;
    m_timeLabel = label;
    m_pauseButton = pause;
    m_stopButton = stop;
}

void RecordingControls::setPaused(bool paused)
{
    m_clock.setPaused(paused, now());
    if (m_dot)
        m_dot->setColor(paused ? SystemColors::orange : Theme::hudRec);
    if (m_pauseButton) {
        if (paused)
            m_pauseButton->setSymbol(playSymbol, QStringLiteral("Continuar"));
        else
            m_pauseButton->setSymbol(pauseSymbol, QStringLiteral("Pausar"));
    }
    updateTime();
}

void RecordingControls::setPauseEnabled(bool enabled)
{
    if (m_pauseButton)
        m_pauseButton->setEnabled(enabled);
}

void RecordingControls::updateTime()
{
    if (m_timeLabel)
        m_timeLabel->setText(timeText(m_clock.elapsed(now())));
}

void RecordingControls::hide()
{
    m_timer.stop();
    // The stop button's own click may land here: the window goes away once
    // its event handling has unwound (WA_DeleteOnClose defers the delete).
    if (m_panel)
        m_panel->close();
    m_panel = nullptr;
    m_timeLabel = nullptr;
    m_dot = nullptr;
    m_pauseButton = nullptr;
    m_stopButton = nullptr;
    m_onTogglePause = nullptr;
    m_onStop = nullptr;
}

void RecordingControls::pauseClicked()
{
    // A copy: the callback may hide the bar, which forgets the stored one.
    if (auto callback = m_onTogglePause)
        callback();
}

void RecordingControls::stopClicked()
{
    if (auto callback = m_onStop)
        callback();
}
