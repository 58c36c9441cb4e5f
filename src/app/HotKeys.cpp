#include "HotKeys.h"

#include "platform/HotKeySource.h"

HotKeys::HotKeys(HotKeySource *source, QObject *parent)
    : QObject(parent)
    , m_source(source)
{
    if (m_source) {
        connect(m_source, &HotKeySource::pressed, this, &HotKeys::dispatch);
        connect(m_source, &HotKeySource::becameUnavailable, this, &HotKeys::sourceLost);
    }
}

void HotKeys::sourceLost(const QList<int> &sourceIndices)
{
    // One combination per registration: the source's index is its order.
    QList<int> registrations;
    for (const int index : sourceIndices) {
        const auto number = m_numbers.find(index);
        if (number == m_numbers.end())
            continue;
        m_actions.remove(*number);
        m_numbers.erase(number);
        registrations << index;
    }
    if (!registrations.isEmpty())
        emit lost(registrations);
}

bool HotKeys::registerKey(Qt::Key key, std::function<void()> action)
{
    if (!m_source)
        return false;
    const int index = m_sourceCount++;
    const QList<int> failed = m_source->registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, key)});
    if (!failed.isEmpty())
        return false;
    const quint32 number = quint32(m_actions.size()) + 1;
    m_numbers.insert(index, number);
    m_actions.insert(number, std::move(action));
    return true;
}

void HotKeys::dispatch(int sourceIndex)
{
    const auto number = m_numbers.find(sourceIndex);
    if (number == m_numbers.end())
        return;
    if (const auto action = m_actions.value(*number))
        action();
}
