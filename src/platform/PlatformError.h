#pragma once

#include <QString>

// A failure of the window system, carrying its own user-facing text.
struct PlatformError {
    QString description;

    bool operator==(const PlatformError &) const = default;
};
