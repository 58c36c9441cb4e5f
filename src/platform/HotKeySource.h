#pragma once

#include <QKeyCombination>
#include <QList>
#include <QObject>
#include <QString>

// System-wide key combinations: registered once, never released, presses
// reported on the GUI thread. The registry above it (numbering, actions,
// the list of unavailable shortcuts) is the application's business.
class HotKeySource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Registers each combination for the whole desktop. The index of a
    // combination is its position in the list; a later call continues the
    // numbering after the earlier lists. Answers the indices that could not be
    // registered (held by another program or refused by the system), in order.
    // Those never report a press.
    virtual QList<int> registerShortcuts(const QList<QKeyCombination> &combinations) = 0;

    // One sentence for the settings page when the session offers no global
    // shortcuts at all (rather than some held by other programs); else empty.
    virtual QString unavailableReason() const { return {}; }

signals:
    // A registered combination was pressed: once per press, however long the
    // keys are held (auto-repeat is not a press). Emitted on the GUI thread.
    void pressed(int index);
    // Combinations registered before the source knew that the session offers
    // no global shortcuts (it asks the desktop in the background) turned out
    // unavailable: their indices. unavailableReason() says why from now on.
    void becameUnavailable(const QList<int> &indices);
};
