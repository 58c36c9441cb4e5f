#include "platform/x11/X11ClipboardProbe.h"

#include "platform/x11/X11SelectionRoundTrip.h"

namespace {

// Reverse-DNS, so that it never meets CLIPBOARD, PRIMARY or another program's.
constexpr char selectionName[] = "app.velunta.selftest";

} // namespace

Result<QList<QUrl>, QString> X11ClipboardProbe::roundTrip(const QList<QUrl> &urls, std::chrono::milliseconds timeout)
{
    return X11SelectionRoundTrip::run(QByteArray(selectionName), urls, timeout);
}
