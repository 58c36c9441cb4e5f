#include "feedback/Toast.h"
#include "platform/desktop/DesktopNotifications.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

namespace {

// Counts the toasts listening to its signals.
class ListenedNotifications : public DesktopNotifications {
public:
    ListenedNotifications()
        : DesktopNotifications(QDBusConnection(QStringLiteral("no bus")))
    {
    }
    int activatedListeners() const { return receivers(SIGNAL(activated(uint))); }
    int closedListeners() const { return receivers(SIGNAL(closed(uint))); }
};

} // namespace

// A click or a closing reported twice would open the file twice.
TEST(Toast, ListensToItsNotificationsOnceAndNoLongerWhenGone)
{
    ListenedNotifications notifications;
    {
        Toast toast(nullptr, &notifications);
        EXPECT_EQ(notifications.activatedListeners(), 1);
        EXPECT_EQ(notifications.closedListeners(), 1);
    }
    EXPECT_EQ(notifications.activatedListeners(), 0);
    EXPECT_EQ(notifications.closedListeners(), 0);

    // The panel alone: nothing to listen to.
    Toast panel(nullptr, static_cast<DesktopNotifications *>(nullptr));
    EXPECT_EQ(notifications.activatedListeners(), 0);
}
