#include "MessageBoxAlerts.h"

#include <QMessageBox>
#include <QPushButton>

int MessageBoxAlerts::show(const QString &message, const QString &detail, const QStringList &buttons, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("Velunta"), message);
    box.setInformativeText(detail);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QList<QAbstractButton *> added;
    for (const QString &title : buttons)
        added << box.addButton(title, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    if (added.isEmpty())
        box.addButton(QMessageBox::Ok);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    const int chosen = int(added.indexOf(box.clickedButton()));
    return chosen < 0 ? int(added.size()) - 1 : chosen;
}
