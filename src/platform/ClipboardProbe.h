#pragma once

#include "core/Result.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

// The self-test's proof that copied files reach other applications: asking
// the toolkit's own clipboard would only read back this process's memory, so
// a probe goes through the window system the way a paste elsewhere would.
class ClipboardProbe {
public:
    virtual ~ClipboardProbe() = default;
    // Offers URLS under a private name (never the user's clipboard) and reads
    // them back as another application pasting them would, within TIMEOUT.
    // Blocks: call it off the GUI thread. The error is a short Portuguese text
    // saying where the round trip broke.
    virtual Result<QList<QUrl>, QString> roundTrip(const QList<QUrl> &urls, std::chrono::milliseconds timeout) = 0;
};
