#pragma once

#include "capture/CaptureError.h"
#include "platform/media/MediaError.h"

#include <QString>

#include <optional>
#include <variant>

// Why a step of a recording failed: the media library's own error with its
// text when it gave one, else one of Velunta's capture errors.
class RecordingError {
public:
    RecordingError(MediaError error)
        : m_error(std::move(error))
    {
    }
    RecordingError(CaptureError error)
        : m_error(error)
    {
    }
    RecordingError(CaptureError::Case error)
        : m_error(CaptureError(error))
    {
    }

    QString description() const
    {
        if (const auto *media = std::get_if<MediaError>(&m_error))
            return media->description;
        return std::get<CaptureError>(m_error).description();
    }

    const MediaError *mediaError() const { return std::get_if<MediaError>(&m_error); }
    std::optional<CaptureError> captureError() const
    {
        if (const auto *capture = std::get_if<CaptureError>(&m_error))
            return *capture;
        return std::nullopt;
    }

    bool operator==(const RecordingError &) const = default;

private:
    std::variant<CaptureError, MediaError> m_error;
};
