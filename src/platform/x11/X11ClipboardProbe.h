#pragma once

#include "platform/ClipboardProbe.h"

// The clipboard probe over X selections (see X11SelectionRoundTrip), on a
// selection of the application's own.
class X11ClipboardProbe : public ClipboardProbe {
public:
    Result<QList<QUrl>, QString> roundTrip(const QList<QUrl> &urls, std::chrono::milliseconds timeout) override;
};
