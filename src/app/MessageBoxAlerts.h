#pragma once

#include "core/ControllerPorts.h"

// Alerts as modal message boxes, brought to the front.
class MessageBoxAlerts : public Alerts {
public:
    int show(const QString &message, const QString &detail, const QStringList &buttons, bool warning) override;
};
