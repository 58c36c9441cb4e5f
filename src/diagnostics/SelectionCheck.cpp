#include "SelectionCheck.h"

#include "diagnostics/SelfTest.h"
#include "diagnostics/SelfTestReport.h"
#include "feedback/SelectionOverlay.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <memory>

using namespace std::chrono_literals;

namespace SelfTest {

namespace {

// The drag the check simulates, in the first overlay window.
constexpr QPointF dragFrom {500, 400};
constexpr QPointF dragTo {100, 100};
constexpr QRectF expectedSelection {100, 100, 400, 300};

struct PickState {
    bool answered = false;
    std::optional<CaptureTarget> answer;
};

QCoro::Task<void> pickInto(SelectionOverlay &overlay, std::shared_ptr<PickState> state)
{
    auto picking = overlay.pick();
    state->answer = co_await picking;
    state->answered = true;
}

} // namespace

QCoro::Task<void> checkSelection(Context &context)
{
    // Left alive (and never deleted) should the overlay never answer: a
    // pick still waiting holds on to it.
    auto overlay = std::make_unique<SelectionOverlay>(context.screens, context.windowManager);
    const auto state = std::make_shared<PickState>();
    auto picking = pickInto(*overlay, state);

    auto settling = sleepAtLeast(400ms);
    co_await settling;
    SelectionOverlay *shown = overlay.get();
    const auto showingOrAnswered = [shown, state] { return state->answered || shown->isShowing(); };
    auto appearing = waitFor(showingOrAnswered, 5s);
    co_await appearing;
    overlay->simulateDragForTesting(dragFrom, dragTo);

    const auto answered = [state] { return state->answered; };
    auto answering = waitFor(answered, 5s);
    const bool inTime = co_await answering;
    if (!inTime && !overlay->windows().empty() && overlay->windows().front()) {
        // The drag was not taken: a right click cancels, as a user would.
        SelectionView *view = overlay->windows().front()->view();
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), view->mapToGlobal(QPointF(1, 1)), Qt::RightButton,
            Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &click);
        auto cancelling = waitFor(answered, 5s);
        co_await cancelling;
    }
    if (!state->answered) {
        Q_UNUSED(overlay.release());
        context.report.record(QStringLiteral("FAIL selecao: nenhum (a seleção não respondeu)"));
        co_return;
    }

    const std::optional<CaptureTarget> target = state->answer;
    if (target && target->rect && *target->rect == expectedSelection)
        context.report.record(QStringLiteral("OK selecao: ") + rectText(*target->rect));
    else
        context.report.record(QStringLiteral("FAIL selecao: ") + targetText(target));
}

} // namespace SelfTest
