#include "platform/desktop/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingReply>
#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

// The picture as the notification server's image-data (iiibiiay) structure.
struct ImageData {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray bytes;
};

QDBusArgument &operator<<(QDBusArgument &argument, const ImageData &image)
{
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
             << image.channels << image.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ImageData &image)
{
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample
        >> image.channels >> image.bytes;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(ImageData)

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    qDBusRegisterMetaType<ImageData>();
    // Signals from whichever process owns the name now or later.
    m_bus.connect(
        QString(), path, interface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(
        QString(), path, interface, QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
}

QStringList DesktopNotifications::actionsFor(const Notice &notice, bool actions)
{
    // The default action's label is not shown by most servers; it names what
    // a click does for those that do.
    if (notice.clickable && actions)
        return {defaultAction, QStringLiteral("Abrir")};
    return {};
}

QImage DesktopNotifications::thumbnailFor(const QImage &image)
{
    QImage scaled = image;
    if (image.width() > imageSide || image.height() > imageSide)
        scaled = image.scaled(imageSide, imageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return scaled.convertToFormat(QImage::Format_RGBA8888);
}

QVariant DesktopNotifications::imageData(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage scaled = thumbnailFor(image);
    ImageData data;
    data.width = scaled.width();
    data.height = scaled.height();
    data.rowStride = int(scaled.bytesPerLine());
    data.bytes = QByteArray(reinterpret_cast<const char *>(scaled.constBits()), int(scaled.sizeInBytes()));
    return QVariant::fromValue(data);
}

QVariantMap DesktopNotifications::hintsFor(const Notice &notice)
{
    QVariantMap hints;
    // Lets the desktop group the notices under the application and show its icon.
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("app.velunta.Velunta"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    // Announcements of a saved file: nothing to keep in a history.
    hints.insert(QStringLiteral("transient"), true);
    if (const QVariant image = imageData(notice.image); image.isValid())
        hints.insert(QStringLiteral("image-data"), image);
    return hints;
}

void DesktopNotifications::send(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent)
{
    if (notice.image.isNull()) {
        deliver(notice, replaces, std::move(sent));
        return;
    }
    // A screenshot's thumbnail is made off the GUI thread.
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(
        watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, notice, replaces, sent = std::move(sent)] {
            watcher->deleteLater();
            Notice small = notice;
            small.image = watcher->result();
            deliver(small, replaces, sent);
        });
    watcher->setFuture(QtConcurrent::run(&DesktopNotifications::thumbnailFor, notice.image));
}

void DesktopNotifications::deliver(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent)
{
    if (m_hasActions) {
        notify(notice, replaces, std::move(sent));
        return;
    }
    // The server's capabilities first, once: actions are only offered where
    // a click can come back.
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    QPointer<DesktopNotifications> self(this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [self, watcher, notice, replaces, sent = std::move(sent)] {
            watcher->deleteLater();
            if (!self)
                return;
            QDBusPendingReply<QStringList> reply = *watcher;
            if (reply.isError()) {
                sent(std::nullopt);
                return;
            }
            self->m_hasActions = reply.value().contains(QStringLiteral("actions"));
            self->notify(notice, replaces, sent);
        });
}

void DesktopNotifications::notify(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Velunta") << replaces << QString() << notice.summary << notice.body
         << actionsFor(notice, m_hasActions.value_or(false)) << hintsFor(notice) << notice.expireTimeoutMs;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, sent = std::move(sent)] {
        watcher->deleteLater();
        QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            sent(std::nullopt);
        else
            sent(reply.value());
    });
}

void DesktopNotifications::close(uint id)
{
    if (id == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("CloseNotification"));
    call << id;
    // Nobody waits for the answer: a notice already gone is no error worth
    // telling anyone.
    m_bus.asyncCall(call, callTimeoutMs);
}

void DesktopNotifications::onActionInvoked(uint id, const QString &action)
{
    if (action == defaultAction)
        emit activated(id);
}

void DesktopNotifications::onNotificationClosed(uint id, uint)
{
    emit closed(id);
}
