#pragma once

#include "capture/CaptureError.h"
#include "platform/PlatformError.h"

#include <optional>

// Why a capture failed: one of Velunta's own capture errors, or the window
// system's error with its own text. Alerts show description().
class CaptureFailure {
public:
    CaptureFailure(CaptureError error)
        : m_own(error)
        , m_description(error.description())
    {
    }
    CaptureFailure(CaptureError::Case error)
        : CaptureFailure(CaptureError(error))
    {
    }
    CaptureFailure(PlatformError error)
        : m_description(std::move(error.description))
    {
    }

    QString description() const { return m_description; }
    // The capture error, when it is one of Velunta's own.
    std::optional<CaptureError> captureError() const { return m_own; }

    bool operator==(const CaptureFailure &) const = default;

private:
    std::optional<CaptureError> m_own;
    QString m_description;
};
