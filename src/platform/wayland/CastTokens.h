#pragma once

#include "core/Preferences.h"

#include <QRectF>
#include <QString>
#include <vector>

// Which ScreenCast restore token to offer the portal, and which to keep
// after it answers. A token brings back the monitor the user picked with it,
// so one is kept per monitor: with a single token, the monitor shared first
// would come back for every later recording, wherever its area lies.
namespace CastTokens {

using Token = Preferences::ScreenCastToken;

// The token to offer for the logical AREA: the one of the monitor that holds
// it (allowing SLACK logical units past its far edges), else one whose
// monitor is not known, else none.
QString forArea(const std::vector<Token> &tokens, const QRectF &area, double slack);

// TOKENS once the portal handed TOKEN for a session that shows MONITOR (its
// logical place; empty when the portal did not say) and was started with
// OFFERED (empty: none). A token is good for one session, so OFFERED goes,
// whichever monitor it was kept for; so does any entry whose monitor
// overlaps MONITOR, a layout of the past. No TOKEN changes nothing.
std::vector<Token> keeping(
    std::vector<Token> tokens, const QRect &monitor, const QString &token, const QString &offered);

} // namespace CastTokens
