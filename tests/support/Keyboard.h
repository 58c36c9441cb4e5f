#pragma once

// The test desktop's keyboard as a person uses it: keys held down for a
// while under the server's auto-repeat, and keyboard maps that change.
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <functional>

namespace TestSupport {

// Holds KEYS (an xdotool chord such as "alt+shift+1") down while WAIT runs,
// then lets them go in reverse order, as fingers do.
inline bool holdKeys(const QString &keys, const std::function<void()> &wait)
{
    if (QProcess::execute("xdotool", {"keydown", keys}) != 0)
        return false;
    wait();
    QStringList reversed = keys.split('+');
    std::reverse(reversed.begin(), reversed.end());
    return QProcess::execute("xdotool", QStringList {"keyup"} + reversed) == 0;
}

// Turns the server's auto-repeat on at a quick rate (300 ms, then 30 a
// second), and gives back the repeat rate and the keyboard map the desktop
// had, whatever the test changed meanwhile (setxkbmap, xmodmap).
class KeyboardGuard {
public:
    KeyboardGuard()
    {
        const QString query = output("setxkbmap", {"-query"});
        for (const QString field : {"rules", "model", "layout", "variant", "options"}) {
            const auto match
                = QRegularExpression("^" + field + ":\\s*(\\S+)$", QRegularExpression::MultilineOption).match(query);
            if (match.hasMatch())
                m_map << "-" + (field == QLatin1String("options") ? QStringLiteral("option") : field)
                      << match.captured(1);
        }
        const auto repeat
            = QRegularExpression("auto repeat delay:\\s*(\\d+)\\s+repeat rate:\\s*(\\d+)").match(output("xset", {"q"}));
        if (repeat.hasMatch())
            m_rate = {repeat.captured(1), repeat.captured(2)};
        QProcess::execute("xset", {"r", "on"});
        QProcess::execute("xset", {"r", "rate", "300", "30"});
    }
    ~KeyboardGuard()
    {
        QProcess::execute("setxkbmap", m_map);
        if (m_rate.size() == 2)
            QProcess::execute("xset", {"r", "rate", m_rate[0], m_rate[1]});
    }
    KeyboardGuard(const KeyboardGuard &) = delete;
    KeyboardGuard &operator=(const KeyboardGuard &) = delete;

private:
    static QString output(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(10000);
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    QStringList m_map;
    QStringList m_rate;
};

} // namespace TestSupport
