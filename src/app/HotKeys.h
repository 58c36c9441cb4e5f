#pragma once

#include <QKeyCombination>
#include <QMap>
#include <QObject>
#include <functional>

class HotKeySource;

// The registry of global shortcuts: each successful registration gets the
// next number from 1 (a failed one consumes none) and its action runs on
// every press. Registrations live as long as the process.
class HotKeys : public QObject {
    Q_OBJECT
public:
    explicit HotKeys(HotKeySource *source, QObject *parent = nullptr);

    // Alt+Shift+<key>. True when the system took it.
    bool registerKey(Qt::Key key, std::function<void()> action);

    // The numbers of the registered keys, in order.
    QList<quint32> numbers() const { return m_numbers.values(); }

signals:
    // Registrations (by their order, from 0) that the system took at first
    // and later turned out unavailable; they never run their action.
    void lost(const QList<int> &registrations);

private:
    void dispatch(int sourceIndex);
    void sourceLost(const QList<int> &sourceIndices);

    HotKeySource *m_source;
    int m_sourceCount = 0;
    QMap<int, quint32> m_numbers; // the source's index → our number
    QMap<quint32, std::function<void()>> m_actions;
};
