#pragma once

#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QImage>
#include <QWidget>

class SelectionView;

// One borderless window over a whole screen, above everything (panels and
// full-screen windows too), never in a capture.
class SelectionWindow : public QWidget {
    Q_OBJECT
public:
    // TRANSLUCENT: a compositing manager shows what is below; without one
    // the view paints STILL under the dimming.
    SelectionWindow(const DisplayInfo &display, QImage still, bool translucent);

    DisplayId displayID() const { return m_displayID; }
    QRect frame() const { return m_frame; }
    SelectionView *view() const { return m_view; }

    // Brings it up over everything.
    void present();
    // Takes the keyboard focus and grabs the keyboard: an override-redirect
    // window gets no focus from the window manager, and Esc must arrive.
    void becomeKey();
    void resign();
    bool hasKeyboardGrab() const { return m_keyboardGrabbed; }

private:
    void tryKeyboardGrab(int attemptsLeft);

    DisplayId m_displayID;
    QRect m_frame;
    SelectionView *m_view;
    bool m_keyboardGrabbed = false;
    bool m_isKey = false;
};
