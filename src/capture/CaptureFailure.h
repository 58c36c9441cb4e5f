#pragma once

#include "capture/CaptureError.h"
#include "platform/PlatformError.h"

#include <optional>
#include <variant>

// Why a capture failed: one of Velunta's own capture errors, or the window
// system's error with its own text. Alerts show description().
class CaptureFailure {
public:
    CaptureFailure(CaptureError error) : m_cause(error) {}
    CaptureFailure(CaptureError::Case error) : m_cause(CaptureError(error)) {}
    CaptureFailure(PlatformError error) : m_cause(std::move(error)) {}

    QString description() const
    {
        if (const auto *own = std::get_if<CaptureError>(&m_cause))
            return own->description();
        return std::get<PlatformError>(m_cause).description;
    }

    // The capture error, when it is one of Velunta's own.
    std::optional<CaptureError> captureError() const
    {
        if (const auto *own = std::get_if<CaptureError>(&m_cause))
            return *own;
        return std::nullopt;
    }

    bool operator==(const CaptureFailure &) const = default;

private:
    std::variant<CaptureError, PlatformError> m_cause;
};
