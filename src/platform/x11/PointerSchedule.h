#pragma once

#include <algorithm>
#include <chrono>

// When a recording asks the X server where the pointer is. Moving the
// pointer damages no window, so its position is asked for: often while it
// moves, seldom once it has rested. A server that reports raw pointer motion
// (XInput 2) says when it moves again, so at rest only a pointer warped by a
// client (which makes no motion event) is left to find, and the position is
// asked for far less often; without those reports the resting poll is what
// notices the first move.
class PointerSchedule {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds movingPeriod {16};
    static constexpr std::chrono::milliseconds restingPeriod {50};
    static constexpr std::chrono::milliseconds restingPeriodWithMotion {250};
    // Still for this long counts as at rest.
    static constexpr std::chrono::milliseconds rest {1000};

    // HEARSMOTION: motion reports arrive (motionHeard()).
    explicit PointerSchedule(bool hearsMotion = false)
        : m_hearsMotion(hearsMotion)
    {
    }

    void setHearsMotion(bool hearsMotion) { m_hearsMotion = hearsMotion; }
    bool hearsMotion() const { return m_hearsMotion; }

    // When the position is to be asked for next.
    Clock::time_point nextCheck() const { return m_nextCheck; }
    bool isDue(Clock::time_point now) const { return now >= m_nextCheck; }

    // The position was asked for at NOW; MOVED: it differed from the last one.
    void checked(Clock::time_point now, bool moved)
    {
        m_lastCheck = now;
        if (moved)
            m_moved = now;
        const bool resting = now - m_moved >= rest;
        m_nextCheck = now + (!resting ? movingPeriod : m_hearsMotion ? restingPeriodWithMotion : restingPeriod);
    }

    // The server reported motion at NOW: the position is asked for at
    // once, but not sooner after the last time than the moving pace allows
    // (a fast mouse reports a thousand times a second).
    void motionHeard(Clock::time_point now)
    {
        m_nextCheck = std::min(m_nextCheck, std::max(now, m_lastCheck + movingPeriod));
    }

private:
    bool m_hearsMotion = false;
    Clock::time_point m_nextCheck {};
    Clock::time_point m_lastCheck {};
    Clock::time_point m_moved {};
};
