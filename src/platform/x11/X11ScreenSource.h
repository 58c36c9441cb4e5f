#pragma once

#include "platform/ScreenSource.h"
#include "platform/x11/X11Capture.h"

#include <memory>

// Screens from Qt and RandR, pixels from X11Capture on a worker thread.
//
// A screen's id is its RandR output id, matched to the QScreen by the
// output's name (Qt names xcb screens after their outputs). Its pixel
// geometry is the output's CRTC rectangle on the root window.
class X11ScreenSource : public ScreenSource {
public:
    // Opens the capture connection (and with it the lasting redirect of the
    // desktop's windows). Needs a QGuiApplication on the xcb platform.
    static Result<std::unique_ptr<X11ScreenSource>, PlatformError> create();

    std::vector<DisplayInfo> displays() const override;
    QPoint pointerPosition() const override;
    bool screenCaptureAllowed() const override;
    QCoro::Task<Result<QImage, PlatformError>> grab(GrabRequest request) override;

private:
    explicit X11ScreenSource(std::shared_ptr<X11Capture> capture);
    // Shared with grabs in flight, which may outlive the source.
    std::shared_ptr<X11Capture> m_capture;
};
