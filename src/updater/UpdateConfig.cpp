#include "UpdateConfig.h"

#include "app/Bundle.h"

std::optional<UpdateConfig> UpdateConfig::fromBundle()
{
    return fromBundle(Bundle::main());
}

std::optional<UpdateConfig> UpdateConfig::fromBundle(const Bundle &bundle)
{
    return fromInfo(bundle.infoDictionary());
}

std::optional<UpdateConfig> UpdateConfig::fromInfo(const QVariantMap &info)
{
    const QVariant base = info.value(QStringLiteral("VLUpdateBaseURL"));
    if (base.typeId() != QMetaType::QString || base.toString().isEmpty())
        return std::nullopt;
    const QUrl baseURL(base.toString(), QUrl::StrictMode);
    if (!baseURL.isValid())
        return std::nullopt;

    const QVariant key = info.value(QStringLiteral("VLUpdatePublicKey"));
    if (key.typeId() != QMetaType::QString || key.toString().isEmpty())
        return std::nullopt;

    const QVariant local = info.value(QStringLiteral("VLUpdateAllowLocalHTTP"));
    const bool allowsLocalHTTP = local.typeId() == QMetaType::Bool && local.toBool();
    return UpdateConfig {baseURL, key.toString(), allowsLocalHTTP};
}

bool UpdateConfig::isAllowed(const QUrl &url) const
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("https"))
        return true;
    return allowsLocalHTTP && scheme == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1");
}

QUrl UpdateConfig::channelURL(bool beta) const
{
    QUrl url = baseURL;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + (beta ? betaChannelFile : stableChannelFile));
    return url;
}
