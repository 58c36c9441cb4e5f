#pragma once

#include "core/ControllerPorts.h"
#include "support/EventLoopWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

// One pick() under way in a test: started at once, its answer read later
// while the test drives the overlay.
class PickRun {
public:
    explicit PickRun(AreaPicker &picker)
        : m_state(std::make_shared<State>())
        , m_task(run(picker, m_state))
    {
    }

    bool answered() const { return m_state->answered; }
    std::optional<CaptureTarget> answer() const { return m_state->answer; }

private:
    struct State {
        bool answered = false;
        std::optional<CaptureTarget> answer;
    };

    static QCoro::Task<> run(AreaPicker &picker, std::shared_ptr<State> state)
    {
        auto picking = picker.pick();
        state->answer = co_await picking;
        state->answered = true;
    }

    std::shared_ptr<State> m_state;
    QCoro::Task<> m_task;
};

using TestSupport::spin;
using TestSupport::waitUntil;
