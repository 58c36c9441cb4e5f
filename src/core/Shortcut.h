#pragma once

#include <QString>
#include <array>

// One global shortcut as the user sees it. The key text is its identity.
struct Shortcut {
    QString keys;
    QString title;

    bool operator==(const Shortcut &) const = default;

    // The four shortcuts, in the order of registration and of every list
    // shown to the user; all are Alt+Shift with the digits 1 to 4.
    static const std::array<Shortcut, 4> &all()
    {
        static const std::array<Shortcut, 4> shortcuts {{
            {QStringLiteral("Alt+Shift+1"), QStringLiteral("Print da tela inteira")},
            {QStringLiteral("Alt+Shift+2"), QStringLiteral("Print de uma área")},
            {QStringLiteral("Alt+Shift+3"), QStringLiteral("Gravar a tela inteira")},
            {QStringLiteral("Alt+Shift+4"), QStringLiteral("Gravar uma área")},
        }};
        return shortcuts;
    }
};
