#pragma once

// A window system for tests of the logic above it: the screens and the
// pointer are what the test sets, grabs are recorded and come back as one
// flat colour, or fail when the test says so.
#include "platform/ScreenSource.h"

#include <QColor>
#include <QImage>
#include <optional>
#include <vector>

class FakeScreenSource : public ScreenSource {
public:
    explicit FakeScreenSource(std::optional<PlatformError> failure = std::nullopt)
        : failure(std::move(failure))
    {
    }

    std::vector<DisplayInfo> list;
    QPoint pointer;
    bool allowed = true;
    // What accessProblem() answers.
    QString problem;
    // Set: every grab fails with it (and is still recorded).
    std::optional<PlatformError> failure;
    QColor fill = Qt::darkCyan;
    std::vector<GrabRequest> grabs;

    std::vector<DisplayInfo> displays() const override { return list; }
    QPoint pointerPosition() const override { return pointer; }
    bool screenCaptureAllowed() const override { return allowed; }
    QString accessProblem() const override { return problem; }
    QCoro::Task<Result<QImage, PlatformError>> grab(GrabRequest request) override
    {
        grabs.push_back(request);
        if (failure)
            co_return Result<QImage, PlatformError>::failure(*failure);
        QImage image(request.pixels.size(), QImage::Format_RGB32);
        image.fill(fill);
        co_return image;
    }
};
