#include "platform/wayland/CastTokens.h"

#include <algorithm>

namespace CastTokens {

QString forArea(const std::vector<Token> &tokens, const QRectF &area, double slack)
{
    // Logical edges computed from pixels carry floating-point dust.
    const double dust = 1e-6;
    if (!area.isEmpty()) {
        for (const Token &entry : tokens) {
            if (entry.monitor.isEmpty())
                continue;
            if (QRectF(entry.monitor).adjusted(-dust, -dust, slack + dust, slack + dust).contains(area))
                return entry.token;
        }
    }
    for (const Token &entry : tokens) {
        if (entry.monitor.isEmpty())
            return entry.token;
    }
    return {};
}

std::vector<Token> keeping(
    std::vector<Token> tokens, const QRect &monitor, const QString &token, const QString &offered)
{
    if (token.isEmpty())
        return tokens;
    std::erase_if(tokens, [&](const Token &entry) {
        if (!offered.isEmpty() && entry.token == offered)
            return true;
        if (monitor.isEmpty())
            return entry.monitor.isEmpty();
        return !entry.monitor.isEmpty() && entry.monitor.intersects(monitor);
    });
    tokens.push_back({monitor, token});
    return tokens;
}

} // namespace CastTokens
