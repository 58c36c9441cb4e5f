#include "UpdateConfig.h"

#include "core/Bundle.h"

#include <QRegularExpression>

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

bool UpdateConfig::isAllowed(const QString &text) const
{
    if (!isAllowed(QUrl(text, QUrl::StrictMode)))
        return false;
    if (text.startsWith(QLatin1String("https://")))
        return true;
    const QLatin1String http("http://");
    if (!allowsLocalHTTP || !text.startsWith(http))
        return false;
    // The authority exactly as written: the address, then at most a port.
    qsizetype end = http.size();
    while (end < text.size() && text[end] != QLatin1Char('/') && text[end] != QLatin1Char('?')
        && text[end] != QLatin1Char('#'))
        ++end;
    static const QRegularExpression loopback(QStringLiteral("^127\\.0\\.0\\.1(:[0-9]*)?$"));
    return loopback.match(text.mid(http.size(), end - http.size())).hasMatch();
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
