#include "HotKeys.h"

#include "platform/HotKeySource.h"

HotKeys::HotKeys(HotKeySource *source, QObject *parent)
    : QObject(parent)
    , m_source(source)
{
    if (m_source)
        connect(m_source, &HotKeySource::pressed, this, &HotKeys::dispatch);
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
